// host.h for POSIX hosts; mounting needs Linux and root.
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/host.h"

unsigned host_ansi_code_page() {
    return 0;
}

bool host_is_root() {
    return geteuid() == 0;
}

std::string host_mount_tmpfs(const std::string& dir, std::size_t bytes, bool read_only, bool casefold) {
    if (!host_is_root()) {
        return "mounting a tmpfs needs root";
    }
    std::string options = "size=" + std::to_string(bytes) + (casefold ? ",casefold" : "");
    unsigned long flags = MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0);
    if (mount("tmpfs", dir.c_str(), "tmpfs", flags, options.c_str()) != 0) {
        return std::string(casefold ? "cannot mount a case-insensitive tmpfs here (it needs Linux 6.13 "
                                      "or later, built with CONFIG_UNICODE): "
                                    : "cannot mount a tmpfs here: ") +
               std::strerror(errno);
    }
    return "";
}

void host_unmount(const std::string& dir) {
    if (umount(dir.c_str()) != 0) {
        umount2(dir.c_str(), MNT_DETACH);
    }
}

std::string host_fold_case(const std::string& dir) {
    // From linux/fs.h, which clashes with sys/mount.h in some glibc
    // versions: the inode flags' ioctls and the casefold flag.
    const unsigned long get_flags = _IOR('f', 1, long);
    const unsigned long set_flags = _IOW('f', 2, long);
    constexpr int CASEFOLD_FLAG = 0x40000000;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return std::string("cannot open the folder to fold its case: ") + std::strerror(errno);
    }
    int flags = 0;
    bool folded = ioctl(fd, get_flags, &flags) == 0;
    if (folded) {
        flags |= CASEFOLD_FLAG;
        folded = ioctl(fd, set_flags, &flags) == 0;
    }
    std::string failure = folded ? "" : std::string("cannot make the folder case-insensitive: ") + std::strerror(errno);
    close(fd);
    return failure;
}

PauseGate::PauseGate(const std::string& unique) : name_(unique + ".gate") {
    if (mkfifo(name_.c_str(), 0600) != 0) {
        name_.clear();
    }
}

PauseGate::~PauseGate() {
    release();
    if (!name_.empty()) {
        unlink(name_.c_str());
    }
}

bool PauseGate::wait_for_run(const std::atomic<bool>& run_ended) {
    // Opening for writing succeeds once the run has opened the FIFO for
    // reading, that is, once it waits at the gate. The retries only watch
    // for a run that ended without getting there.
    while (!name_.empty()) {
        int fd = open(name_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            handle_ = fd;
            return true;
        }
        if (errno != ENXIO || run_ended) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void PauseGate::release() {
    if (handle_ >= 0) {
        int fd = static_cast<int>(handle_);
        ssize_t ignored = write(fd, "g", 1);
        (void)ignored;
        close(fd);
        handle_ = -1;
    }
}
