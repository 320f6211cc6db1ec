// POSIX backend: the library's new files (platform.h), and the steps on
// names that the tool's own files share (posix_names.h). Only POSIX code
// belongs here.
#ifdef _WIN32
#error "posix_made.cpp is the POSIX backend; the Windows build takes win32_made.cpp"
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/file.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix_names.h"

bool rename_without_replacing(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    // Where the file system cannot rename that way, a new link and the old
    // one's removal do the same.
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    if (::link(from, to) != 0) {
        return false;
    }
    ::unlink(from);
    return true;
}

bool claim_name(int fd, const char* path, std::string* removable) {
    // Checking the name and then removing it would remove whatever another
    // process put there in between: the file is first moved to a name of
    // this process's own, and only what was moved is checked and removed.
    std::string aside = std::string(path) + ".removing-" + std::to_string(::getpid());
    if (!rename_without_replacing(path, aside.c_str())) {
        return false;
    }
    struct stat held;
    struct stat moved;
    if (fstat(fd, &held) == 0 && ::lstat(aside.c_str(), &moved) == 0 && held.st_dev == moved.st_dev &&
        held.st_ino == moved.st_ino) {
        *removable = std::move(aside);
        return true;
    }
    // Someone else's file: back under its name, unless yet another file
    // took that meanwhile, in which case it stays under the other name.
    rename_without_replacing(aside.c_str(), path);
    return false;
}

FileHandle made_file_create(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? INVALID_FILE : fd;
}

bool made_name_taken(const char* path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

int made_file_write_at(FileHandle file, std::uint64_t offset, const void* buffer, std::uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        ssize_t put = ::pwrite(static_cast<int>(file), bytes + done, count - done,
                               static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return 0;
        }
        done += static_cast<std::uint32_t>(put);
    }
    return 1;
}

std::uint64_t made_file_copy(FileHandle source, std::uint64_t from, FileHandle file, std::uint64_t to,
                             std::uint64_t count) {
    // In steps of 1 GiB: some kernels copy no more in one call.
    constexpr std::uint64_t STEP = std::uint64_t{1} << 30;
    std::uint64_t copied = 0;
    while (copied < count) {
        auto in = static_cast<off_t>(from + copied);
        auto out = static_cast<off_t>(to + copied);
        const std::uint64_t want = count - copied < STEP ? count - copied : STEP;
        ssize_t moved = ::copy_file_range(static_cast<int>(source), &in, static_cast<int>(file), &out,
                                          static_cast<std::size_t>(want), 0);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            break;
        }
        copied += static_cast<std::uint64_t>(moved);
    }
    return copied;
}

int made_file_sync(FileHandle file) {
    int result;
    do {
        result = ::fsync(static_cast<int>(file));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

void sync_folder(const char* target) {
    const char* slash = std::strrchr(target, '/');
    std::string folder = slash == nullptr ? std::string(".")
                         : slash == target ? std::string("/")
                                           : std::string(target, static_cast<std::size_t>(slash - target));
    int fd;
    do {
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        while (::fsync(fd) != 0 && errno == EINTR) {
        }
        ::close(fd);
    }
}

PublishStatus made_file_publish(FileHandle file, const char* path, const char* target) {
    // Only the file this call made takes the name: whatever took `path`
    // meanwhile is left where it is.
    const int fd = static_cast<int>(file);
    struct stat made;
    struct stat named;
    bool own = fstat(fd, &made) == 0 && ::lstat(path, &named) == 0 && made.st_dev == named.st_dev &&
               made.st_ino == named.st_ino;
    if (own && rename_without_replacing(path, target)) {
        ::close(fd);
        sync_folder(target);
        return PublishStatus::published;
    }
    const bool exists = errno == EEXIST;
    made_file_discard(file, path);
    return own && exists ? PublishStatus::exists : PublishStatus::failed;
}

void made_file_discard(FileHandle file, const char* path) {
    std::string removable;
    if (claim_name(static_cast<int>(file), path, &removable)) {
        ::unlink(removable.c_str());
    }
    ::close(static_cast<int>(file));
}

bool is_read_only(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

int link_target(const char* path, char* out, std::size_t size) {
    char* found = ::realpath(path, nullptr);
    if (found == nullptr) {
        return 0;
    }
    std::size_t length = std::strlen(found);
    bool fits = length < size;
    if (fits) {
        std::memcpy(out, found, length + 1);
    }
    std::free(found);
    return fits ? 1 : 0;
}

void take_permissions(FileHandle file, const char* like) {
    struct stat st;
    if (::stat(like, &st) != 0) {
        return;
    }
    // The owner first: a change of owner may clear the set-id bits.
    static_cast<void>(fchown(static_cast<int>(file), st.st_uid, st.st_gid));
    static_cast<void>(fchmod(static_cast<int>(file), st.st_mode & 07777));
}

ReplaceStatus made_file_replace(FileHandle file, const char* path, const char* target, FileHandle replaced) {
    // Only the file this run made goes in: whatever took its name meanwhile
    // is left where it is. The old file's lock goes only once the name is
    // the new file's.
    const int fd = static_cast<int>(file);
    struct stat made;
    struct stat named;
    bool own = fstat(fd, &made) == 0 && ::lstat(path, &named) == 0 && made.st_dev == named.st_dev &&
               made.st_ino == named.st_ino;
    if (own && ::rename(path, target) == 0) {
        ::close(fd);
        if (replaced != INVALID_FILE) {
            ::close(static_cast<int>(replaced));
        }
        return ReplaceStatus::replaced;
    }
    if (replaced != INVALID_FILE) {
        ::close(static_cast<int>(replaced));
    }
    std::string removable;
    if (own && claim_name(fd, path, &removable)) {
        ::unlink(removable.c_str());
    }
    ::close(fd);
    return ReplaceStatus::failed;
}

ChangeLock made_lock_for_change(FileHandle file, const char* path) {
    const int fd = static_cast<int>(file);
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return errno == EWOULDBLOCK ? ChangeLock::held : ChangeLock::failed;
    }
    // Locked only now: a run that held the lock until its new archive took
    // the name may have ended in between, and this file is the old one.
    struct stat locked;
    struct stat named;
    if (fstat(fd, &locked) != 0 || ::stat(path, &named) != 0 || locked.st_dev != named.st_dev ||
        locked.st_ino != named.st_ino) {
        return ChangeLock::moved;
    }
    return ChangeLock::locked;
}

FileHandle made_open_for_change(const char* path, std::uint64_t* size) {
    std::uint64_t ignored = 0;
    return file_open_shared(path, size == nullptr ? &ignored : size);
}

bool name_fits(const char* path) {
    std::string_view whole(path);
    std::size_t slash = whole.rfind('/');
    std::string folder = slash == std::string_view::npos ? std::string(".")
                         : slash == 0                    ? std::string("/")
                                                         : std::string(whole.substr(0, slash));
    long name_max = pathconf(folder.c_str(), _PC_NAME_MAX);
    std::size_t name_length = whole.size() - (slash == std::string_view::npos ? 0 : slash + 1);
    return name_length <= static_cast<std::size_t>(name_max > 0 ? name_max : 255) && whole.size() < PATH_MAX;
}
