// host.h for POSIX hosts; mounting needs Linux and root.
#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

#include "support/host.h"

bool host_is_root() {
    return geteuid() == 0;
}

std::string host_mount_tmpfs(const std::string& dir, std::size_t bytes, bool read_only) {
    if (!host_is_root()) {
        return "mounting a tmpfs needs root";
    }
    std::string size = "size=" + std::to_string(bytes);
    unsigned long flags = MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0);
    if (mount("tmpfs", dir.c_str(), "tmpfs", flags, size.c_str()) != 0) {
        return std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
    return "";
}

void host_unmount(const std::string& dir) {
    if (umount(dir.c_str()) != 0) {
        umount2(dir.c_str(), MNT_DETACH);
    }
}
