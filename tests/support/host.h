// What a test may ask of the machine beyond running the tool: small file
// systems of its own, and whether it runs as root. Each call that can fail
// returns "" when done, otherwise the reason, for the test to skip with.
#pragma once

#include <cstddef>
#include <string>

bool host_is_root();

// Mounts a fresh tmpfs of `bytes` bytes on the existing, empty directory
// `dir`, read-only when asked.
std::string host_mount_tmpfs(const std::string& dir, std::size_t bytes, bool read_only);
void host_unmount(const std::string& dir);

// Mounted for as long as it lives; nothing when the mount failed.
class TmpfsMount {
public:
    TmpfsMount(const std::string& dir, std::size_t bytes, bool read_only)
        : dir_(dir), failure_(host_mount_tmpfs(dir, bytes, read_only)) {}
    ~TmpfsMount() {
        if (failure_.empty()) {
            host_unmount(dir_);
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    // "" when mounted, otherwise why not.
    const std::string& failure() const { return failure_; }

private:
    std::string dir_;
    std::string failure_;
};
