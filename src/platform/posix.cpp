// POSIX backend: the system's own calls of system.h and the backend
// functions of platform.h. Only code for POSIX systems belongs here; what
// every system shares is in platform.cpp.
#if defined(_WIN32)
#error "posix.cpp is the POSIX backend; Windows builds use win32.cpp"
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/patterns/listing_order.h"
#include "platform/listed_items.h"
#include "platform/platform.h"
#include "platform/posix_names.h"
#include "platform/posix_target.h"
#include "platform/system.h"

namespace {

constexpr std::size_t WORKER_STACK = 256 * 1024;

// A file this process holds, by its device and inode: Windows refuses a
// second open of a file held without sharing; here it is refused by these.
struct OpenedFile {
    int fd;
    dev_t device;
    ino_t inode;
};

// Devices between which the kernel refused to copy.
struct RefusedPair {
    dev_t source;
    dev_t target;
};

// What the POSIX calls need to remember: the files held, for the check
// above; the folder of the last file opened by a full path, kept open so
// that the next file in it (files come folder by folder) is opened by its
// name alone; the pairs of devices between which the kernel's copy was
// refused, so that it is asked once per pair; the folders being listed,
// outermost first, to see a link loop.
// A folder kept open, so that files in it are opened by their names alone.
struct KeptFolder {
    std::string path;
    int fd = -1;
};

struct PosixState {
    std::vector<OpenedFile> opened;
    KeptFolder lastFolder;
    std::vector<RefusedPair> refusedPairs;
    std::vector<const DirListing*> listings;
    bool outputWasClosed = false;
    bool lastOpenHeld = false;
};
PosixState state;

int fd_of(FileHandle file) {
    return static_cast<int>(file);
}

const OpenedFile* opened_file(int fd) {
    for (const OpenedFile& file : state.opened) {
        if (file.fd == fd) {
            return &file;
        }
    }
    return nullptr;
}

void forget_opened(int fd) {
    state.opened.erase(std::remove_if(state.opened.begin(), state.opened.end(),
                                      [fd](const OpenedFile& file) { return file.fd == fd; }),
                       state.opened.end());
}

bool is_held(const struct stat& st) {
    return std::any_of(state.opened.begin(), state.opened.end(), [&](const OpenedFile& file) {
        return file.device == st.st_dev && file.inode == st.st_ino;
    });
}

int open_retrying(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Where a full path's file is opened (and, when replaced, removed): in the
// folder of the last file opened, kept open, by its name alone; any other
// path as it is.
struct Place {
    int directory;
    const char* name;
};

Place place_in(KeptFolder& kept, const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (path[0] != '/' || slash == path || slash[1] == '\0') {
        return {AT_FDCWD, path};
    }
    std::string_view directory(path, static_cast<std::size_t>(slash - path));
    if (kept.fd < 0 || kept.path != directory) {
        std::string wanted(directory);
        int fd = open_retrying(wanted.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return {AT_FDCWD, path};  // let the full path decide the failure
        }
        if (kept.fd >= 0) {
            ::close(kept.fd);
        }
        kept.fd = fd;
        kept.path = std::move(wanted);
    }
    return {kept.fd, slash + 1};
}

Place place_of(const char* path) {
    return place_in(state.lastFolder, path);
}

int open_at(Place place, int flags) {
    int fd;
    do {
        fd = ::openat(place.directory, place.name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A regular file that nobody holds: this process (by its identity) nor,
// unless `locking` is false, another that asked for a lock. Else closed.
bool usable(int fd, struct stat* st, bool locking) {
    bool held_elsewhere = false;
    bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode) && !is_held(*st);
    if (ok && locking && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        held_elsewhere = errno == EWOULDBLOCK;
        ok = false;
    }
    if (!ok) {
        ::close(fd);
        state.lastOpenHeld = held_elsewhere;
    }
    return ok;
}

bool usable_target(int fd, struct stat* st, void*) {
    return usable(fd, st, true);
}

int open_own_file(Place place, int flags, struct stat* st) {
    return open_own_file_at(place.directory, place.name, flags, st, usable_target, nullptr);
}

bool copy_refused_between(const OpenedFile* source, const OpenedFile* target) {
    return source != nullptr && target != nullptr &&
           std::any_of(state.refusedPairs.begin(), state.refusedPairs.end(), [&](const RefusedPair& pair) {
               return pair.source == source->device && pair.target == target->device;
           });
}

}  // namespace

const LeadBytes& local_lead_bytes() {
    return NO_LEAD_BYTES;
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
        state.outputWasClosed = state.outputWasClosed || fd == STDOUT_FILENO;
    }
    // Past RLIMIT_FSIZE the write then fails with EFBIG and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
    // Workers need little stack; the default (8 MiB each) would count
    // against a limit on address space as if used.
    pthread_attr_t small;
    if (pthread_attr_init(&small) == 0) {
        if (pthread_attr_setstacksize(&small, WORKER_STACK) == 0) {
            pthread_setattr_default_np(&small);
        }
        pthread_attr_destroy(&small);
    }
#endif
    return 1;
}

int finish_console_output() {
    return 1;  // stdout writes to the terminal itself
}

void keep_running_when_output_closes() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::FILE* take_standard_output() {
    if (std::fflush(stdout) != 0) {
        return nullptr;
    }
    int data = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (data < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return nullptr;
    }
    return fdopen(data, "w");
}

FileHandle sys::open_file(const char* path, OpenMode mode, std::uint64_t* size, FileIdentity* identity) {
    // O_NONBLOCK keeps a FIFO from hanging the open; anything that is not a
    // regular file is refused.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    Place place = place_of(path);
    struct stat st;
    int fd = -1;
    state.lastOpenHeld = false;
    switch (mode) {
    case OpenMode::read_existing:
    case OpenMode::read_input:
    case OpenMode::change_existing: fd = open_at(place, flags | O_RDONLY); break;
    case OpenMode::create_new: fd = open_at(place, flags | O_RDWR | O_CREAT | O_EXCL); break;
    case OpenMode::create_or_reuse: fd = open_own_file(place, flags | O_RDWR, &st); break;
    }
    if (fd < 0 ||
        (mode != OpenMode::create_or_reuse &&
         !usable(fd, &st, mode == OpenMode::create_new))) {
        return INVALID_FILE;
    }
    // O_NONBLOCK stays set: reads and writes of a regular file ignore it,
    // and clearing it would cost two more system calls per file.
    state.opened.push_back({fd, st.st_dev, st.st_ino});
    *size = static_cast<std::uint64_t>(st.st_size);
    if (identity != nullptr) {
        *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }
    return fd;
}

bool sys::last_open_held() {
    return state.lastOpenHeld;
}

sys::ChangeLock sys::lock_for_change(FileHandle file, const char* path) {
    return made_lock_for_change(file, path);
}

int sys::empty(FileHandle file) {
    int result;
    do {
        result = ftruncate(fd_of(file), 0);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

FileHandle sys::open_listed(const char* path) {
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
    state.lastOpenHeld = false;
    int fd = open_at(place_of(path), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return fd < 0 ? INVALID_FILE : fd;
}

FileHandle sys::open_listed_apart(const char* path, bool* held) {
    // Each thread keeps a folder of its own, closed when the thread ends.
    struct ThreadFolder {
        KeptFolder kept;
        ~ThreadFolder() {
            if (kept.fd >= 0) {
                ::close(kept.fd);
            }
        }
    };
    thread_local ThreadFolder folder;
    *held = false;
    int fd = open_at(place_in(folder.kept, path), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return fd < 0 ? INVALID_FILE : fd;
}

std::int64_t sys::read_some(FileHandle file, void* buffer, std::uint32_t count) {
    ssize_t got;
    do {
        got = ::read(fd_of(file), buffer, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

std::int64_t sys::write_some(FileHandle file, const void* buffer, std::uint32_t count) {
    ssize_t put;
    do {
        put = ::write(fd_of(file), buffer, count);
    } while (put < 0 && errno == EINTR);
    return put > 0 ? put : -1;
}

std::int64_t sys::copy_some(FileHandle source, FileHandle target, std::uint64_t count, void*,
                            std::uint32_t) {
    const OpenedFile* from = opened_file(fd_of(source));
    const OpenedFile* to = opened_file(fd_of(target));
    if (copy_refused_between(from, to)) {
        return COPY_REFUSED;
    }
    ssize_t moved;
    do {
        moved = copy_file_range(fd_of(source), nullptr, fd_of(target), nullptr,
                                static_cast<std::size_t>(count), 0);
    } while (moved < 0 && errno == EINTR);
    if (moved >= 0) {
        return moved;
    }
    // Across file systems, and where the kernel has no such copy, it is
    // refused at once; asked again, it would be refused again.
    if (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS) {
        if (from != nullptr && to != nullptr) {
            state.refusedPairs.push_back({from->device, to->device});
        }
        return COPY_REFUSED;
    }
    return COPY_STOPPED;
}

int sys::seek(FileHandle file, std::uint64_t offset, std::uint64_t* position) {
    off_t at = lseek(fd_of(file), static_cast<off_t>(offset), SEEK_SET);
    if (at < 0) {
        return 0;
    }
    *position = static_cast<std::uint64_t>(at);
    return 1;
}

int sys::position(FileHandle file, std::uint64_t* position) {
    off_t at = lseek(fd_of(file), 0, SEEK_CUR);
    if (at < 0) {
        return 0;
    }
    *position = static_cast<std::uint64_t>(at);
    return 1;
}

int sys::size(FileHandle file, std::uint64_t* size) {
    struct stat st;
    if (fstat(fd_of(file), &st) != 0) {
        return 0;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return 1;
}

int sys::flush(FileHandle) {
    // A completed write() is already in the file for every later reader;
    // forcing it to the disk per file would cost far more than the copy.
    return 1;
}

void sys::close(FileHandle file) {
    forget_opened(fd_of(file));
    ::close(fd_of(file));
}

bool sys::claim_for_removal(FileHandle file, const char* path, std::string* removable) {
    return claim_name(fd_of(file), path, removable);
}

void sys::remove_name(const std::string& path) {
    ::unlink(path.c_str());
}

int sys::sync(FileHandle file) {
    int result;
    do {
        result = ::fsync(fd_of(file));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

ReplaceStatus sys::replace(FileHandle file, const char* path, const char* target, FileHandle replaced) {
    forget_opened(fd_of(file));
    if (replaced != INVALID_FILE) {
        forget_opened(fd_of(replaced));
    }
    return made_file_replace(file, path, target, replaced);
}

void sys::sync_folder_of(const char* target) {
    sync_folder(target);
}

ListStatus sys::list_directory(const char* directory, ListDetail detail, DirListing* listing,
                               WorkPool* helpers) {
    if (!folder_list(directory, detail, &listing->listed, &listing->identity, helpers)) {
        return ListStatus::failed;
    }
    for (const DirListing* open : state.listings) {
        if (open->identity == listing->identity) {
            return ListStatus::is_cycle;
        }
    }
    state.listings.push_back(listing);
    return ListStatus::listed;
}

void sys::forget_directory(DirListing* listing) {
    state.listings.erase(std::remove(state.listings.begin(), state.listings.end(), listing),
                         state.listings.end());
}

void sys::wait_at_gate(const char* name) {
    // Opening a FIFO for reading blocks until the test opens it for
    // writing, which tells it the run is here; the read then waits for the
    // byte (or the end) that lets the run go on.
    int fd = open_retrying(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char go = 0;
    while (::read(fd, &go, 1) < 0 && errno == EINTR) {
    }
    ::close(fd);
}

int file_identity(const char* path, FileIdentity* identity) {
    struct stat st;
    if (::stat(path, &st) != 0) {
        return 0;
    }
    *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return 1;
}

bool is_directory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

CurrentDirectory current_directory(char* buffer, std::size_t size) {
    if (::getcwd(buffer, size) != nullptr) {
        return CurrentDirectory::known;
    }
    return errno == ERANGE ? CurrentDirectory::too_long : CurrentDirectory::unknown;
}

unsigned long process_number() {
    return static_cast<unsigned long>(::getpid());
}

int drive_directory(char, char*, std::size_t) {
    return 0;
}

int inexact_argument(std::string*) {
    return 0;  // argv holds the bytes as typed
}

bool environment_value(const char* name, std::string* value) {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return false;
    }
    *value = text;
    return true;
}

bool standard_output_was_closed() {
    return state.outputWasClosed;
}

ConsoleStart console_start() {
    return {};  // a terminal's programs share it with their shell
}

void wait_for_enter(const char*) {}

FileHandle sys::open_stream(const char* path) {
    // Without O_NONBLOCK: a FIFO's open waits for its writer, as cat's does.
    int fd = open_retrying(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    return fd < 0 ? INVALID_FILE : fd;
}

int sys::identity(FileHandle file, FileIdentity* identity) {
    struct stat st;
    if (fstat(fd_of(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return 1;
}

FileHandle sys::stream_handle(std::FILE* stream) {
    return fileno(stream);
}
