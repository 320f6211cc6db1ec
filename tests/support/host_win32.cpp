// host.h for Windows hosts, which have no tmpfs: the tests that need one skip.
#include "support/host.h"

bool host_is_root() {
    return false;
}

std::string host_mount_tmpfs(const std::string&, std::size_t, bool) {
    return "a small file system of its own needs a POSIX host";
}

void host_unmount(const std::string&) {}
