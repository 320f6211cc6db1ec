// POSIX backend of platform.h. Only code for POSIX systems belongs here.
#if defined(_WIN32)
#error "posix.cpp is the POSIX backend; Windows builds use win32.cpp"
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/copy_through.h"
#include "platform/fault_seam.h"
#include "platform/listed_items.h"
#include "platform/platform.h"

PathStyle local_path_style() {
    return PathStyle::posix;
}

int prepare_process() {
    // A descriptor 0, 1 or 2 left closed would go to the next file opened,
    // and the console's text with it: fill each from the null device.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            return 0;
        }
    }
    // Past RLIMIT_FSIZE the write then fails with EFBIG and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    return 1;
}

namespace {

// Files this process holds open. Windows refuses a second open of a file
// held without sharing; here the same device and inode is refused, and an
// exclusive advisory lock keeps other processes out.
// Each also remembers its file position, so that asking for it, or seeking
// to where the file already is, needs no system call: EXTRACT * seeks to
// every entry, and entries follow one another.
struct HeldFile {
    int fd;
    dev_t device;
    ino_t inode;
    bool positionKnown;
    std::uint64_t position;
    bool atEnd;  // a read has just found the end, and nothing moved since
    std::uint64_t openedSize;
};
std::vector<HeldFile> held_files;

HeldFile* held_file(FileHandle file) {
    for (HeldFile& held : held_files) {
        if (held.fd == file) {
            return &held;
        }
    }
    return nullptr;
}

void moved_by(FileHandle file, std::uint64_t bytes) {
    if (HeldFile* held = held_file(file)) {
        held->position += bytes;
        held->atEnd = held->atEnd && bytes == 0;
    }
}

void position_lost(FileHandle file) {
    if (HeldFile* held = held_file(file)) {
        held->positionKnown = false;
        held->atEnd = false;
    }
}

void position_is(FileHandle file, std::uint64_t position) {
    if (HeldFile* held = held_file(file)) {
        held->positionKnown = true;
        held->atEnd = held->atEnd && held->position == position;
        held->position = position;
    }
}

bool is_held(const struct stat& st) {
    return std::any_of(held_files.begin(), held_files.end(), [&](const HeldFile& held) {
        return held.device == st.st_dev && held.inode == st.st_ino;
    });
}

int open_retrying(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The directory of the last file opened by a full path, kept open, so that
// the next file in it (files come directory by directory) is opened by its
// name alone instead of by walking its whole path again.
struct LastDirectory {
    std::string path;
    int fd = -1;
};
LastDirectory last_directory;

int open_file_retrying(const char* path, int flags) {
    const char* slash = std::strrchr(path, '/');
    if (path[0] != '/' || slash == path || slash[1] == '\0') {
        return open_retrying(path, flags);
    }
    std::string_view directory(path, static_cast<std::size_t>(slash - path));
    if (last_directory.fd < 0 || last_directory.path != directory) {
        std::string wanted(directory);
        int fd = open_retrying(wanted.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return open_retrying(path, flags);  // let the full path decide the failure
        }
        if (last_directory.fd >= 0) {
            ::close(last_directory.fd);
        }
        last_directory.fd = fd;
        last_directory.path = std::move(wanted);
    }
    int fd;
    do {
        fd = ::openat(last_directory.fd, slash + 1, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

FileHandle file_open(const char* path, OpenMode mode) {
    if (fault_injected(FaultOp::open)) {
        return INVALID_FILE;
    }
    // O_NONBLOCK keeps a FIFO from hanging the open; anything that is not a
    // regular file is refused below. Create-or-replace empties the file only
    // after it is known to be a regular file that nobody holds.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (mode) {
    case OpenMode::read_existing: flags |= O_RDONLY; break;
    case OpenMode::create_new: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case OpenMode::create_always: flags |= O_RDWR | O_CREAT; break;
    }
    int fd = open_file_retrying(path, flags);
    if (fd < 0) {
        return INVALID_FILE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || is_held(st) ||
        flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return INVALID_FILE;
    }
    if (mode == OpenMode::create_always && st.st_size != 0 && ftruncate(fd, 0) != 0) {
        ::close(fd);
        return INVALID_FILE;
    }
    // O_NONBLOCK stays set: reads and writes of a regular file ignore it,
    // and clearing it would cost two more system calls per file.
    std::uint64_t size = mode == OpenMode::create_always ? 0 : static_cast<std::uint64_t>(st.st_size);
    held_files.push_back({fd, st.st_dev, st.st_ino, true, 0, false, size});
    return fd;
}

namespace {

// The loops of file_read and file_write, without the test seam's count, so
// that file_copy can use them as one read and one write.
int read_all(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        // The test seam makes the kernel's reads as short as they may be.
        std::uint32_t ask = fault_short_reads() ? 1 : count - done;
        ssize_t got = ::read(static_cast<int>(file), bytes + done, ask);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            position_lost(file);
            return 0;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::uint32_t>(got);
    }
    moved_by(file, done);
    *bytes_read = done;
    return 1;
}

int write_all(FileHandle file, const void* buffer, std::uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        std::uint32_t ask = fault_short_reads() ? 1 : count - done;
        ssize_t put = ::write(static_cast<int>(file), bytes + done, ask);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            position_lost(file);
            return 0;
        }
        if (put == 0) {
            position_lost(file);
            return 0;
        }
        done += static_cast<std::uint32_t>(put);
    }
    moved_by(file, done);
    return 1;
}

}  // namespace

int file_read(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    if (fault_injected(FaultOp::read)) {
        return 0;
    }
    const HeldFile* held = held_file(file);
    if (held != nullptr && held->atEnd) {
        *bytes_read = 0;
        return 1;
    }
    return read_all(file, buffer, count, bytes_read);
}

int file_write(FileHandle file, const void* buffer, std::uint32_t count) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return write_all(file, buffer, count);
}

namespace {

// Pairs of devices between which the kernel refused to copy: it is asked
// once per pair, and then the data goes through read and write at once.
struct RefusedPair {
    dev_t source;
    dev_t target;
};
std::vector<RefusedPair> refused_pairs;

bool kernel_copy_refused(const HeldFile* source, const HeldFile* target) {
    return source != nullptr && target != nullptr &&
           std::any_of(refused_pairs.begin(), refused_pairs.end(), [&](const RefusedPair& pair) {
               return pair.source == source->device && pair.target == target->device;
           });
}

// The first read and write of copy_through, with one byte more asked for:
// when the read brings `count` bytes the source's end is known, and the
// caller's look for more data (CREATE's check that the file did not grow)
// costs no system call. A byte beyond `count` is given back for that look.
CopyStatus copy_whole(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                      std::uint32_t buffer_size, std::uint64_t* copied) {
    if (fault_injected(FaultOp::read)) {
        return CopyStatus::read_failed;
    }
    ssize_t got;
    do {
        got = ::read(static_cast<int>(source), buffer, static_cast<std::size_t>(count + 1));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        position_lost(source);
        return CopyStatus::read_failed;
    }
    auto bytes = static_cast<std::uint64_t>(got);
    moved_by(source, bytes);
    if (bytes > count) {
        bytes = count;
        if (lseek(static_cast<int>(source), -1, SEEK_CUR) < 0) {
            position_lost(source);
        } else if (HeldFile* held = held_file(source)) {
            --held->position;
        }
    } else if (bytes == count) {
        if (HeldFile* held = held_file(source)) {
            held->atEnd = true;
        }
    }
    if (bytes == 0) {
        return CopyStatus::source_ended;
    }
    if (fault_injected(FaultOp::write)) {
        return CopyStatus::write_failed;
    }
    if (!write_all(target, buffer, static_cast<std::uint32_t>(bytes))) {
        return CopyStatus::write_failed;
    }
    *copied = bytes;
    // Fewer bytes than asked for: the loop reads on, or reports the end.
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

// Without the kernel's copy. A source that, as opened, ends with these
// `count` bytes (a file being archived) is read whole, looking for its end.
CopyStatus copy_by_reading(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                           std::uint32_t buffer_size, std::uint64_t* copied) {
    const HeldFile* held = held_file(source);
    if (*copied == 0 && count > 0 && count < buffer_size && !fault_short_reads() &&
        held != nullptr && held->positionKnown && held->openedSize == held->position + count) {
        return copy_whole(source, target, count, buffer, buffer_size, copied);
    }
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

}  // namespace

CopyStatus file_copy(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                     std::uint32_t buffer_size, std::uint64_t* copied) {
    *copied = 0;
    if (count > 0 && !fault_short_reads() &&
        kernel_copy_refused(held_file(source), held_file(target))) {
        // The seam counts the kernel's attempt as if it were made, so that a
        // plan of faults counts the same operations on every file system.
        if (CopyStatus failure; copy_step_fault(&failure)) {
            return failure;
        }
        return copy_by_reading(source, target, count, buffer, buffer_size, copied);
    }
    // The kernel's copy moves the data without passing it through this
    // process. When it refuses or fails part way, read and write take over
    // from where it stopped, so that a failure is reported as the read or
    // write failure it is.
    while (*copied < count && !fault_short_reads()) {
        if (CopyStatus failure; copy_step_fault(&failure)) {
            return failure;
        }
        std::uint64_t left = count - *copied;
        std::size_t want = left < (std::uint64_t{1} << 30) ? static_cast<std::size_t>(left)
                                                           : std::size_t{1} << 30;
        ssize_t moved = copy_file_range(static_cast<int>(source), nullptr, static_cast<int>(target),
                                        nullptr, want, 0);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0 && *copied == 0 &&
            (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
            const HeldFile* from = held_file(source);
            const HeldFile* to = held_file(target);
            if (from != nullptr && to != nullptr) {
                refused_pairs.push_back({from->device, to->device});
            }
            return copy_by_reading(source, target, count, buffer, buffer_size, copied);
        }
        if (moved <= 0) {
            break;  // failed or at the source's end: the slow path decides which
        }
        *copied += static_cast<std::uint64_t>(moved);
        moved_by(source, static_cast<std::uint64_t>(moved));
        moved_by(target, static_cast<std::uint64_t>(moved));
    }
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

int file_seek(FileHandle file, std::uint32_t offset, std::uint32_t* position) {
    if (fault_injected(FaultOp::seek)) {
        return 0;
    }
    HeldFile* held = held_file(file);
    if (held != nullptr && held->positionKnown && held->position == offset) {
        *position = offset;
        return 1;
    }
    off_t at = lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET);
    if (at < 0) {
        position_lost(file);
        return 0;
    }
    position_is(file, static_cast<std::uint64_t>(at));
    *position = static_cast<std::uint32_t>(at);
    return 1;
}

int file_position(FileHandle file, std::uint64_t* position) {
    if (fault_injected(FaultOp::seek)) {
        return 0;
    }
    HeldFile* held = held_file(file);
    if (held != nullptr && held->positionKnown) {
        *position = held->position;
        return 1;
    }
    off_t at = lseek(static_cast<int>(file), 0, SEEK_CUR);
    if (at < 0) {
        return 0;
    }
    position_is(file, static_cast<std::uint64_t>(at));
    *position = static_cast<std::uint64_t>(at);
    return 1;
}

int file_size(FileHandle file, std::uint64_t* size) {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) {
        return 0;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return 1;
}

int file_flush(FileHandle) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    // A completed write() is already in the file for every later reader;
    // forcing it to the disk per file would cost far more than the copy.
    return 1;
}

void file_close(FileHandle file) {
    int fd = static_cast<int>(file);
    held_files.erase(std::remove_if(held_files.begin(), held_files.end(),
                                    [fd](const HeldFile& held) { return held.fd == fd; }),
                     held_files.end());
    ::close(fd);
}

void file_discard(FileHandle file, const char* path) {
    struct stat held;
    struct stat named;
    if (fstat(static_cast<int>(file), &held) == 0 && ::lstat(path, &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        ::unlink(path);
    }
    file_close(file);
}

// Listings are read whole and sorted, so that the same tree always gives the
// same archive: by name with a-z folded to upper case, as unsigned bytes,
// ties broken by the bytes as they are.
struct DirListing {
    ListedItems listed;
    dev_t device;
    ino_t inode;
};

namespace {

// Directories being listed, outermost first, to recognise a link loop.
std::vector<DirListing*> open_listings;

unsigned char folded(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool listed_before(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    std::size_t i = 0;
    while (x[i] != 0 && folded(x[i]) == folded(y[i])) {
        ++i;
    }
    if (folded(x[i]) != folded(y[i])) {
        return folded(x[i]) < folded(y[i]);
    }
    return std::strcmp(a, b) < 0;
}

}  // namespace

ListStatus dir_open(const char* directory, ListDetail detail, DirListing** listing) {
    if (fault_injected(FaultOp::dir)) {
        return ListStatus::failed;
    }
    int fd = open_retrying(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return ListStatus::failed;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return ListStatus::failed;
    }
    for (const DirListing* open : open_listings) {
        if (open->device == st.st_dev && open->inode == st.st_ino) {
            ::close(fd);
            return ListStatus::is_cycle;
        }
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return ListStatus::failed;
    }
    auto* result = new DirListing;
    result->device = st.st_dev;
    result->inode = st.st_ino;
    bool failed = false;
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(dir);
        if (entry == nullptr) {
            failed = errno != 0;
            break;
        }
        std::size_t length = std::strlen(entry->d_name);
        if (length >= sizeof(DirItem{}.name)) {
            continue;
        }
        // The directory entry's own type settles directories, and files
        // when no size is wanted; links and unknown types are looked up.
        bool is_dir = entry->d_type == DT_DIR;
        std::uint64_t size = 0;
        bool known = is_dir || (entry->d_type == DT_REG && detail == ListDetail::types_only);
        if (!known) {
            struct stat item;
            // Links are followed; what they lead to decides. Sockets, FIFOs,
            // devices and dangling links are passed over and never opened.
            if (fstatat(dirfd(dir), entry->d_name, &item, 0) != 0) {
                continue;
            }
            if (!S_ISDIR(item.st_mode) && !S_ISREG(item.st_mode)) {
                continue;
            }
            is_dir = S_ISDIR(item.st_mode);
            size = is_dir ? 0 : static_cast<std::uint64_t>(item.st_size);
        }
        add_listed(result->listed, {entry->d_name, length}, is_dir, size);
    }
    closedir(dir);
    if (failed) {
        delete result;
        return ListStatus::failed;
    }
    const char* names = result->listed.names.data();
    std::sort(result->listed.items.begin(), result->listed.items.end(),
              [names](const ListedItems::Listed& a, const ListedItems::Listed& b) {
                  return listed_before(names + a.name_at, names + b.name_at);
              });
    open_listings.push_back(result);
    *listing = result;
    return ListStatus::listed;
}

int dir_next(DirListing* listing, DirItem* item) {
    return next_listed(listing->listed, item);
}

void dir_close(DirListing* listing) {
    open_listings.erase(std::remove(open_listings.begin(), open_listings.end(), listing),
                        open_listings.end());
    delete listing;
}

MakeDirStatus make_directory(const char* path) {
    if (fault_injected(FaultOp::dir)) {
        return MakeDirStatus::other_failure;
    }
    if (::mkdir(path, 0777) == 0) {
        return MakeDirStatus::made;
    }
    switch (errno) {
    case EEXIST: return MakeDirStatus::exists;
    case ENOENT: return MakeDirStatus::parent_missing;
    default: return MakeDirStatus::other_failure;
    }
}

int is_directory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int current_directory(char* buffer, std::size_t size) {
    return ::getcwd(buffer, size) != nullptr;
}

int drive_directory(char, char*, std::size_t) {
    return 0;
}

int inexact_argument(std::string*) {
    return 0;  // argv holds the bytes as typed
}
