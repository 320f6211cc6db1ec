// What a test may ask of the machine beyond running the tool: small file
// systems of its own, and whether it runs as root. Each call that can fail
// returns "" when done, otherwise the reason, for the test to skip with.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

bool host_is_root();

// Windows' ANSI code page in this process (Wine takes it from the locale);
// 0 on POSIX.
unsigned host_ansi_code_page();

// Mounts a fresh tmpfs of `bytes` bytes on the existing, empty directory
// `dir`, read-only when asked; with `casefold`, its names are looked up
// without regard to letter case (Linux 6.13 and later, built with Unicode
// support).
std::string host_mount_tmpfs(const std::string& dir, std::size_t bytes, bool read_only,
                             bool casefold = false);
void host_unmount(const std::string& dir);

// Makes the empty directory `dir`, on a tmpfs mounted with `casefold`, look
// its names up without regard to letter case (its folders made later
// inherit it). "" when done, otherwise why not.
std::string host_fold_case(const std::string& dir);

// Mounted for as long as it lives; nothing when the mount failed.
class TmpfsMount {
public:
    TmpfsMount(const std::string& dir, std::size_t bytes, bool read_only, bool casefold = false)
        : dir_(dir), failure_(host_mount_tmpfs(dir, bytes, read_only, casefold)) {}
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

// The gate a run paused through the test seam waits at (BIGTOOL_PAUSE_GATE):
// a FIFO on POSIX, a named pipe on Windows. The run blocks on it until the
// test lets it go on; nothing in the handshake depends on timing.
class PauseGate {
public:
    // `unique` tells this gate from others: a path in the test's folder.
    explicit PauseGate(const std::string& unique);
    ~PauseGate();
    PauseGate(const PauseGate&) = delete;
    PauseGate& operator=(const PauseGate&) = delete;

    // What BIGTOOL_PAUSE_GATE names; "" when the gate could not be made.
    const std::string& name() const { return name_; }

    // Blocks until the run waits at the gate (true), or until `run_ended`
    // is set because it ended without reaching it (false).
    bool wait_for_run(const std::atomic<bool>& run_ended);

    // Lets the waiting run go on.
    void release();

private:
    std::string name_;
    std::intptr_t handle_ = -1;
};
