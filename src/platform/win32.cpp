// Win32 backend of platform.h. Only code for Windows belongs here.
#if !defined(_WIN32)
#error "win32.cpp is the Windows backend; other systems use posix.cpp"
#endif

// windows.h brings its own MAX_PATH macro, so nothing from common/ that
// defines the tool's MAX_PATH may be included here.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // SetFileInformationByHandle
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/copy_through.h"
#include "platform/fault_seam.h"
#include "platform/listed_items.h"
#include "platform/platform.h"

// Arguments reach main as typed: the MinGW start-up must not expand a * or
// a ? into file names. Defining this here overrides the runtime's default,
// whatever that was configured to.
extern "C" {
int _dowildcard = 0;
}

PathStyle local_path_style() {
    return PathStyle::windows;
}

int prepare_process() {
    // Handles are not numbered like POSIX descriptors: a file opened later
    // never becomes a missing standard stream, and the C runtime marks such
    // a stream unusable. Where the runtime lets it, the stream is given the
    // null device instead; where it does not (Wine's), output written to a
    // missing standard output is lost and ends the run with status 2.
    struct Stream {
        DWORD id;
        std::FILE* stream;
        const char* mode;
    };
    const Stream streams[] = {{STD_INPUT_HANDLE, stdin, "r"},
                              {STD_OUTPUT_HANDLE, stdout, "w"},
                              {STD_ERROR_HANDLE, stderr, "w"}};
    for (const Stream& s : streams) {
        HANDLE handle = GetStdHandle(s.id);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            static_cast<void>(std::freopen("NUL", s.mode, s.stream));
        }
    }
    return 1;
}

namespace {

HANDLE as_handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

// `wide` in the ANSI code page, in `ansi`: true when exactly, false when a
// character has no place there (then it shows as '?', never as a best-fit
// stand-in). What comes back from the ANSI text must be `wide` again.
bool to_ansi_exactly(const wchar_t* wide, std::string* ansi) {
    ansi->clear();
    int wide_length = static_cast<int>(wcslen(wide));
    if (wide_length == 0) {
        return true;
    }
    BOOL defaulted = FALSE;
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    BOOL* defaulted_at = &defaulted;
    int length = WideCharToMultiByte(CP_ACP, flags, wide, wide_length, nullptr, 0, nullptr, defaulted_at);
    if (length == 0 && GetLastError() == ERROR_INVALID_PARAMETER) {
        // UTF-8 as the ANSI code page takes neither; it has room for everything.
        flags = 0;
        defaulted_at = nullptr;
        length = WideCharToMultiByte(CP_ACP, flags, wide, wide_length, nullptr, 0, nullptr, nullptr);
    }
    if (length <= 0) {
        ansi->assign(static_cast<std::size_t>(wide_length), '?');
        return false;
    }
    ansi->resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_ACP, flags, wide, wide_length, ansi->data(), length, nullptr, defaulted_at);
    std::wstring back(static_cast<std::size_t>(wide_length) + 1, L'\0');
    int back_length = MultiByteToWideChar(CP_ACP, 0, ansi->data(), length, back.data(), wide_length + 1);
    return !defaulted && back_length == wide_length && back.compare(0, back_length, wide) == 0;
}

// ReadFile and WriteFile take a DWORD count; a FileHandle is pointer-sized.
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
static_assert(sizeof(HANDLE) == sizeof(FileHandle));

}  // namespace

FileHandle file_open(const char* path, OpenMode mode) {
    if (fault_injected(FaultOp::open)) {
        return INVALID_FILE;
    }
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
    case OpenMode::read_existing: break;
    case OpenMode::create_new:
        // DELETE, so that file_discard can remove it by its handle.
        access |= GENERIC_WRITE | DELETE;
        disposition = CREATE_NEW;
        break;
    case OpenMode::create_always:
        access |= GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    }
    // Share mode 0: nobody, this process included, opens it again meanwhile.
    HANDLE handle = CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return INVALID_FILE;
    }
    // Reserved names (NUL, CON, COM1) and pipes open as devices; only files
    // on a disk are what callers mean.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    return reinterpret_cast<FileHandle>(handle);
}

int file_read(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    if (fault_injected(FaultOp::read)) {
        return 0;
    }
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        // The test seam makes the system's reads as short as they may be.
        DWORD ask = fault_short_reads() ? 1 : count - done;
        DWORD got = 0;
        if (!ReadFile(as_handle(file), bytes + done, ask, &got, nullptr)) {
            return 0;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    *bytes_read = done;
    return 1;
}

int file_write(FileHandle file, const void* buffer, std::uint32_t count) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        DWORD ask = fault_short_reads() ? 1 : count - done;
        DWORD put = 0;
        if (!WriteFile(as_handle(file), bytes + done, ask, &put, nullptr) || put == 0) {
            return 0;
        }
        done += put;
    }
    return 1;
}

namespace {

// Moves up to `count` bytes through `buffer` without the test seam, the way
// a kernel copy would, and returns the number moved: short when the source
// ends or a call fails. A failed write is final (*write_failed); after a
// failed read the careful loop tries again and names the failure.
std::uint64_t move_unseen(HANDLE source, HANDLE target, std::uint64_t count, char* buffer,
                          std::uint32_t buffer_size, bool* write_failed) {
    std::uint64_t moved = 0;
    while (moved < count) {
        std::uint64_t left = count - moved;
        auto want = static_cast<DWORD>(left < buffer_size ? left : buffer_size);
        DWORD got = 0;
        if (!ReadFile(source, buffer, want, &got, nullptr) || got == 0) {
            break;
        }
        for (DWORD done = 0; done < got;) {
            DWORD put = 0;
            if (!WriteFile(target, buffer + done, got - done, &put, nullptr) || put == 0) {
                *write_failed = true;
                return moved + done;
            }
            done += put;
        }
        moved += got;
    }
    return moved;
}

}  // namespace

CopyStatus file_copy(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                     std::uint32_t buffer_size, std::uint64_t* copied) {
    *copied = 0;
    // Windows has no copy between two open handles inside the kernel. The
    // first stage moves the data in steps of up to 1 GiB, each counted by
    // the test seam as one read and one write, exactly as the POSIX kernel
    // copy is, so that injected faults land on the same operations on every
    // system; the careful loop then finishes.
    while (*copied < count && !fault_short_reads()) {
        if (CopyStatus failure; copy_step_fault(&failure)) {
            return failure;
        }
        std::uint64_t left = count - *copied;
        std::uint64_t want = left < (std::uint64_t{1} << 30) ? left : std::uint64_t{1} << 30;
        bool write_failed = false;
        std::uint64_t moved = move_unseen(as_handle(source), as_handle(target), want,
                                          static_cast<char*>(buffer), buffer_size, &write_failed);
        *copied += moved;
        if (write_failed) {
            return CopyStatus::write_failed;
        }
        if (moved == 0) {
            break;  // a failed read or the source's end: the careful loop decides which
        }
    }
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

int file_seek(FileHandle file, std::uint32_t offset, std::uint32_t* position) {
    if (fault_injected(FaultOp::seek)) {
        return 0;
    }
    // The 64-bit call, so that offsets from 2 GiB to 4 GiB are not taken
    // for negative ones.
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    LARGE_INTEGER at;
    if (!SetFilePointerEx(as_handle(file), distance, &at, FILE_BEGIN)) {
        return 0;
    }
    *position = static_cast<std::uint32_t>(at.QuadPart & 0xFFFFFFFF);
    return 1;
}

int file_position(FileHandle file, std::uint64_t* position) {
    if (fault_injected(FaultOp::seek)) {
        return 0;
    }
    LARGE_INTEGER none;
    none.QuadPart = 0;
    LARGE_INTEGER at;
    if (!SetFilePointerEx(as_handle(file), none, &at, FILE_CURRENT)) {
        return 0;
    }
    *position = static_cast<std::uint64_t>(at.QuadPart);
    return 1;
}

int file_size(FileHandle file, std::uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(as_handle(file), &length)) {
        return 0;
    }
    *size = static_cast<std::uint64_t>(length.QuadPart);
    return 1;
}

int file_flush(FileHandle file) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return FlushFileBuffers(as_handle(file)) != 0;
}

void file_close(FileHandle file) {
    CloseHandle(as_handle(file));
}

void file_discard(FileHandle file, const char*) {
    // By the handle: held without sharing, the file cannot have been renamed
    // or replaced meanwhile, and no other file can be removed in its place.
    FILE_DISPOSITION_INFO dispose;
    dispose.DeleteFile = TRUE;
    SetFileInformationByHandle(as_handle(file), FileDispositionInfo, &dispose, sizeof dispose);
    CloseHandle(as_handle(file));
}

// A listing is read whole when it is opened, in the order the system gives
// (on NTFS and under Wine: by name, letters compared without regard to
// case), and handed out from memory.
struct DirListing {
    ListedItems listed;
};

namespace {

// A path of this tool, in the ANSI code page, as the system's wide text.
bool to_wide(const char* ansi, std::wstring* wide) {
    int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide->resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide->data(), length);
    wide->pop_back();  // the terminator, which the string keeps apart
    return true;
}

bool is_directory_attribute(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

ListStatus dir_open(const char* directory, ListDetail, DirListing** listing) {
    if (fault_injected(FaultOp::dir)) {
        return ListStatus::failed;
    }
    // The wide listing gives the names as they are; the ANSI one would give
    // best-fit stand-ins ("l.txt" for "ł.txt") that open other files.
    std::wstring wide_directory;
    if (!to_wide(directory, &wide_directory)) {
        return ListStatus::failed;
    }
    std::wstring pattern = wide_directory + L"\\*";
    auto* result = new DirListing;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        // A drive root lists no "." or "..": when empty, it lists nothing.
        bool empty = GetLastError() == ERROR_FILE_NOT_FOUND &&
                     is_directory_attribute(GetFileAttributesW(wide_directory.c_str()));
        if (!empty) {
            delete result;
            return ListStatus::failed;
        }
        *listing = result;
        return ListStatus::listed;
    }
    std::string name;
    do {
        // Devices are neither directories nor regular files.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
            continue;
        }
        bool is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::uint64_t size =
            (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        bool exact = to_ansi_exactly(found.cFileName, &name);
        if (name.size() >= sizeof(DirItem{}.name)) {
            continue;
        }
        add_listed(result->listed, name, is_dir, is_dir ? 0 : size, !exact);
    } while (FindNextFileW(find, &found));
    bool failed = GetLastError() != ERROR_NO_MORE_FILES;
    FindClose(find);
    if (failed) {
        delete result;
        return ListStatus::failed;
    }
    *listing = result;
    return ListStatus::listed;
}

int dir_next(DirListing* listing, DirItem* item) {
    return next_listed(listing->listed, item);
}

void dir_close(DirListing* listing) {
    delete listing;
}

MakeDirStatus make_directory(const char* path) {
    if (fault_injected(FaultOp::dir)) {
        return MakeDirStatus::other_failure;
    }
    if (CreateDirectoryA(path, nullptr)) {
        return MakeDirStatus::made;
    }
    switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS: return MakeDirStatus::exists;
    case ERROR_PATH_NOT_FOUND: return MakeDirStatus::parent_missing;
    default: return MakeDirStatus::other_failure;
    }
}

int is_directory(const char* path) {
    return is_directory_attribute(GetFileAttributesA(path));
}

int current_directory(char* buffer, std::size_t size) {
    DWORD room = size > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(size);
    DWORD length = GetCurrentDirectoryA(room, buffer);
    // On success the length without the terminator; when too small, the
    // size needed with it.
    return length != 0 && length < room;
}

// msvcrt's own splitting of the wide command line: the same rules, and the
// same count, as the argv it hands to main.
extern "C" {
struct WideStartupInfo {
    int newMode;
};
int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand_wildcards,
                   WideStartupInfo* info);
}

int inexact_argument(std::string* shown) {
    int argc = 0;
    wchar_t** argv = nullptr;
    wchar_t** env = nullptr;
    WideStartupInfo info{0};
    if (__wgetmainargs(&argc, &argv, &env, 0, &info) < 0 || argv == nullptr) {
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        if (!to_ansi_exactly(argv[i], shown)) {
            return i;
        }
    }
    return 0;
}

int drive_directory(char letter, char* buffer, std::size_t size) {
    // "C:" alone is that drive's current directory, which only Windows knows.
    const char drive[3] = {letter, ':', '\0'};
    DWORD room = size > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(size);
    DWORD length = GetFullPathNameA(drive, room, buffer, nullptr);
    if (length == 0 || length >= room) {
        return 0;
    }
    // Like the current directory, it ends in a separator only at a root
    // (Wine's answer ends in one always).
    if (length > 3 && buffer[length - 1] == '\\') {
        buffer[length - 1] = '\0';
    }
    return 1;
}
