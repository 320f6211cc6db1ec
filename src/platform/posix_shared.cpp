// POSIX backend: the library's calls of platform.h: shared, positioned
// reads, and the writing of extracted files, with no state of the process. Only POSIX
// code belongs here.
#ifdef _WIN32
#error "posix_shared.cpp is the POSIX backend; the Windows build takes win32_shared.cpp"
#endif

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix_target.h"

FileHandle file_open_shared(const char* path, std::uint64_t* size) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return INVALID_FILE;
    }
    // O_NONBLOCK keeps a FIFO from holding the open; a regular file ignores it.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return INVALID_FILE;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

bool wide_paths() {
    return false;
}

FileHandle file_open_shared_wide(const wchar_t*, std::uint64_t*) {
    return INVALID_FILE;
}

int file_read_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count,
                 std::uint32_t* got) {
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        ssize_t moved = ::pread(static_cast<int>(file), bytes + done, count - done,
                                static_cast<off_t>(offset + done));
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0) {
            return 0;
        }
        if (moved == 0) {
            break;
        }
        done += static_cast<std::uint32_t>(moved);
    }
    *got = done;
    return 1;
}

void file_close_shared(FileHandle file) {
    ::close(static_cast<int>(file));
}

PathKind path_kind(const char* path) {
    struct stat st;
    if (::lstat(path, &st) != 0) {
        return PathKind::missing;
    }
    if (S_ISLNK(st.st_mode)) {
        return PathKind::link;
    }
    return S_ISDIR(st.st_mode) ? PathKind::directory : PathKind::other;
}

MakeDirStatus directory_make(const char* path) {
    if (::mkdir(path, 0777) == 0) {
        return MakeDirStatus::made;
    }
    switch (errno) {
    case EEXIST: return MakeDirStatus::exists;
    case ENOENT: return MakeDirStatus::parent_missing;
    default: return MakeDirStatus::other_failure;
    }
}

const LeadBytes& code_page_lead_bytes() {
    return NO_LEAD_BYTES;
}

bool fold_letter_case(std::string_view, std::string*) {
    return false;
}

int file_identity_shared(FileHandle file, FileIdentity* identity) {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) {
        return 0;
    }
    *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return 1;
}

namespace {

int open_at(int directory, const char* name, int flags) {
    int fd;
    do {
        fd = ::openat(directory, name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// What not_avoided checks against, and what it found.
struct TargetCheckContext {
    const FileIdentity* avoid;
    bool heldElsewhere;
};

// A regular file that is not the one to avoid (or null), and that no other
// process that asks for a lock holds.
bool not_avoided(int fd, struct stat* st, void* context) {
    auto* check = static_cast<TargetCheckContext*>(context);
    const FileIdentity* avoid = check->avoid;
    bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode) &&
              (avoid == nullptr || avoid->volume != static_cast<std::uint64_t>(st->st_dev) ||
               avoid->file != static_cast<std::uint64_t>(st->st_ino));
    if (ok && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        check->heldElsewhere = errno == EWOULDBLOCK;
        ok = false;
    }
    if (!ok) {
        ::close(fd);
    }
    return ok;
}

}  // namespace

int open_own_file_at(int directory, const char* name, int flags, struct stat* st, TargetCheck usable,
                     void* context) {
    int fd = open_at(directory, name, flags | O_CREAT | O_NOFOLLOW);
    // FreeBSD says EMLINK where Linux says ELOOP.
    if (fd < 0 && errno != ELOOP && errno != EMLINK) {
        return -1;
    }
    if (fd >= 0) {
        if (!usable(fd, st, context)) {
            return -1;
        }
        if (st->st_nlink <= 1) {
            return fd;
        }
        ::close(fd);
    }
    if (::unlinkat(directory, name, 0) != 0) {
        return -1;
    }
    fd = open_at(directory, name, flags | O_CREAT | O_EXCL | O_NOFOLLOW);
    return fd >= 0 && usable(fd, st, context) ? fd : -1;
}

FileHandle file_open_target_shared(const char* path, const FileIdentity* avoid, TargetOpen* opened) {
    struct stat st;
    TargetCheckContext check{avoid, false};
    // O_NONBLOCK keeps a FIFO from hanging the open.
    int fd = open_own_file_at(AT_FDCWD, path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, &st, not_avoided, &check);
    opened->heldElsewhere = check.heldElsewhere;
    if (fd < 0) {
        return INVALID_FILE;
    }
    opened->identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    opened->size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

FileHandle file_open_again(FileHandle file) {
    // Reads at offsets move no position: the duplicate serves.
    int fd = fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? INVALID_FILE : fd;
}

FileHandle file_open_again_for_writing(FileHandle file) {
    // pwrite moves no position either.
    return file_open_again(file);
}

int file_empty_shared(FileHandle file) {
    int result;
    do {
        result = ftruncate(static_cast<int>(file), 0);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

int file_write_shared(FileHandle file, const void* buffer, std::uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        ssize_t put = ::write(static_cast<int>(file), bytes + done, count - done);
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

int file_flush_shared(FileHandle) {
    return 1;  // write() hands the bytes to the system; nothing is buffered here
}

bool name_in_code_page(std::string_view) {
    return true;  // names are bytes
}

PathStyle local_path_style() {
    return PathStyle::posix;
}

unsigned processor_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        return online > 0 ? static_cast<unsigned>(online) : 1;
    }
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}
