// POSIX backend: the shared, positioned reads of platform.h. Only POSIX
// code belongs here.
#ifdef _WIN32
#error "posix_shared.cpp is the POSIX backend; the Windows build takes win32_shared.cpp"
#endif

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

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
