// Win32 backend: the system's own calls of system.h and the backend
// functions of platform.h, on kernel32, but for the standard streams and
// the console (win32_streams.cpp). Only code for Windows belongs here; what
// every system shares is in platform.cpp.
#if !defined(_WIN32)
#error "win32.cpp is the Windows backend; other systems use posix.cpp"
#endif

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // SetFileInformationByHandle
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "lib/text/code_page.h"
#include "lib/text/paths.h"
#include "platform/listed_items.h"
#include "platform/platform.h"
#include "platform/system.h"
#include "platform/win32_target.h"

// Arguments reach main as typed: the MinGW start-up must not expand a * or
// a ? into file names. Defining this here overrides the runtime's default,
// whatever that was configured to.
extern "C" {
int _dowildcard = 0;
}

namespace {

HANDLE as_handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

// ReadFile and WriteFile take a DWORD count; a FileHandle is pointer-sized.
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
static_assert(sizeof(HANDLE) == sizeof(FileHandle));

}  // namespace

namespace {

// The files this process holds, to tell its own from another program's
// when an open meets a sharing conflict.
std::vector<HANDLE> opened;
bool lastOpenHeld = false;

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Whether the file at `path` is one this process holds. Opened for no
// access at all, which no sharing refuses.
bool held_here(const char* path) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    for (HANDLE held : opened) {
        BY_HANDLE_FILE_INFORMATION other;
        if (known && GetFileInformationByHandle(held, &other) && same_file(info, other)) {
            return true;
        }
    }
    return !known;
}

}  // namespace

FileHandle sys::open_file(const char* path, OpenMode mode, std::uint64_t* size, FileIdentity* identity) {
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    // Share mode 0 for files written: nobody, this process included, opens
    // them again meanwhile. Readers share everything, so that they run
    // beside each other and beside the game or an editor that has the file
    // open; a run that is to replace the file shares all but deletion, so
    // that nobody moves it meanwhile (its lock is lock_for_change's).
    DWORD share = 0;
    switch (mode) {
    case OpenMode::read_existing:
    case OpenMode::read_input: share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE; break;
    case OpenMode::change_existing: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case OpenMode::create_new:
        // DELETE, so that file_discard can remove it by its handle.
        access |= GENERIC_WRITE | DELETE;
        disposition = CREATE_NEW;
        break;
    case OpenMode::create_or_reuse:
        access |= GENERIC_WRITE;
        disposition = CREATE_NEW;  // an existing name is looked at first: see open_own_file
        break;
    }
    // Files to read are those that links lead to; a target is never that.
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (mode == OpenMode::create_or_reuse) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE handle = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE && mode == OpenMode::create_or_reuse &&
        (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
        handle = open_own_file(path);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        lastOpenHeld = (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) && !held_here(path);
        return INVALID_FILE;
    }
    lastOpenHeld = false;
    // Reserved names (NUL, CON, COM1) and pipes open as devices; only files
    // on a disk are what callers mean.
    LARGE_INTEGER length;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length) ||
        (identity != nullptr && !GetFileInformationByHandle(handle, &info))) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    *size = static_cast<std::uint64_t>(length.QuadPart);
    if (identity != nullptr) {
        *identity = {info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    }
    opened.push_back(handle);
    return reinterpret_cast<FileHandle>(handle);
}

bool sys::last_open_held() {
    return lastOpenHeld;
}

sys::ChangeLock sys::lock_for_change(FileHandle file, const char* path) {
    return made_lock_for_change(file, path);
}

int sys::empty(FileHandle file) {
    LARGE_INTEGER start;
    start.QuadPart = 0;
    return SetFilePointerEx(as_handle(file), start, nullptr, FILE_BEGIN) && SetEndOfFile(as_handle(file));
}

FileHandle sys::open_listed(const char* path) {
    // Windows' open does its checks itself; nothing here costs a call more.
    std::uint64_t size = 0;
    return open_file(path, OpenMode::read_existing, &size);
}

FileHandle sys::open_listed_apart(const char* path, bool* held) {
    *held = false;
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // The files read ahead are none that this process holds.
        *held = GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
        return INVALID_FILE;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    return reinterpret_cast<FileHandle>(handle);
}

std::int64_t sys::read_some(FileHandle file, void* buffer, std::uint32_t count) {
    DWORD got = 0;
    if (!ReadFile(as_handle(file), buffer, count, &got, nullptr)) {
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe ends so: its writer is gone
    }
    return got;
}

std::int64_t sys::write_some(FileHandle file, const void* buffer, std::uint32_t count) {
    DWORD put = 0;
    if (!WriteFile(as_handle(file), buffer, count, &put, nullptr) || put == 0) {
        return -1;
    }
    return put;
}

std::int64_t sys::copy_some(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                            std::uint32_t buffer_size) {
    // Windows has no copy between two open handles inside the kernel: the
    // data goes through `buffer`, as a kernel's copy would move it. A failed
    // write is final; after a failed read the careful loop tries again and
    // names the failure.
    auto* bytes = static_cast<char*>(buffer);
    std::uint64_t moved = 0;
    while (moved < count) {
        std::uint64_t left = count - moved;
        auto want = static_cast<DWORD>(left < buffer_size ? left : buffer_size);
        DWORD got = 0;
        if (!ReadFile(as_handle(source), bytes, want, &got, nullptr) || got == 0) {
            break;
        }
        for (DWORD done = 0; done < got;) {
            DWORD put = 0;
            if (!WriteFile(as_handle(target), bytes + done, got - done, &put, nullptr) || put == 0) {
                return COPY_WRITE_FAILED;
            }
            done += put;
        }
        moved += got;
    }
    return static_cast<std::int64_t>(moved);
}

int sys::seek(FileHandle file, std::uint64_t offset, std::uint64_t* position) {
    // The 64-bit call, so that offsets from 2 GiB to 4 GiB are not taken
    // for negative ones.
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    LARGE_INTEGER at;
    if (!SetFilePointerEx(as_handle(file), distance, &at, FILE_BEGIN)) {
        return 0;
    }
    *position = static_cast<std::uint64_t>(at.QuadPart);
    return 1;
}

int sys::position(FileHandle file, std::uint64_t* position) {
    LARGE_INTEGER none;
    none.QuadPart = 0;
    LARGE_INTEGER at;
    if (!SetFilePointerEx(as_handle(file), none, &at, FILE_CURRENT)) {
        return 0;
    }
    *position = static_cast<std::uint64_t>(at.QuadPart);
    return 1;
}

int sys::size(FileHandle file, std::uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(as_handle(file), &length)) {
        return 0;
    }
    *size = static_cast<std::uint64_t>(length.QuadPart);
    return 1;
}

int sys::flush(FileHandle file) {
    return FlushFileBuffers(as_handle(file)) != 0;
}

void sys::close(FileHandle file) {
    opened.erase(std::remove(opened.begin(), opened.end(), as_handle(file)), opened.end());
    CloseHandle(as_handle(file));
}

bool sys::claim_for_removal(FileHandle file, const char*, std::string* removable) {
    // By the handle: held without sharing, the file cannot have been renamed
    // or replaced meanwhile, and no other file can be removed in its place.
    // It goes when the handle is closed.
    FILE_DISPOSITION_INFO dispose;
    dispose.DeleteFile = TRUE;
    removable->clear();
    return SetFileInformationByHandle(as_handle(file), FileDispositionInfo, &dispose, sizeof dispose) != 0;
}

void sys::remove_name(const std::string& path) {
    DeleteFileA(path.c_str());
}

int sys::sync(FileHandle file) {
    return FlushFileBuffers(as_handle(file)) != 0;
}

ReplaceStatus sys::replace(FileHandle file, const char* path, const char* target, FileHandle replaced) {
    opened.erase(std::remove(opened.begin(), opened.end(), as_handle(file)), opened.end());
    opened.erase(std::remove(opened.begin(), opened.end(), as_handle(replaced)), opened.end());
    return made_file_replace(file, path, target, replaced);
}

void sys::sync_folder_of(const char*) {
    // MOVEFILE_WRITE_THROUGH returns only once the move is on the disk.
}

// The listing gives sizes with the names: nothing for helpers to share.
ListStatus sys::list_directory(const char* directory, ListDetail detail, DirListing* listing, WorkPool*) {
    return folder_list(directory, detail, &listing->listed, &listing->identity) ? ListStatus::listed
                                                                                  : ListStatus::failed;
}

void sys::forget_directory(DirListing*) {}

void sys::wait_at_gate(const char* name) {
    // The test serves a named pipe: connecting tells it the run is here,
    // and the read waits for the byte (or the end) that lets it go on.
    HANDLE pipe = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return;
    }
    char go = 0;
    DWORD got = 0;
    ReadFile(pipe, &go, 1, &got, nullptr);
    CloseHandle(pipe);
}

int file_identity(const char* path, FileIdentity* identity) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (known) {
        *identity = {info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    }
    return known ? 1 : 0;
}

bool is_directory(const char* path) {
    return is_directory_attribute(GetFileAttributesA(path));
}

CurrentDirectory current_directory(char* buffer, std::size_t size) {
    DWORD room = size > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(size);
    DWORD length = GetCurrentDirectoryA(room, buffer);
    // On success the length without the terminator; when too small, the
    // size needed with it.
    if (length == 0) {
        return CurrentDirectory::unknown;
    }
    return length < room ? CurrentDirectory::known : CurrentDirectory::too_long;
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

bool environment_value(const char* name, std::string* value) {
    char small[64];
    DWORD length = GetEnvironmentVariableA(name, small, sizeof small);
    if (length == 0) {
        return false;
    }
    if (length < sizeof small) {
        value->assign(small, length);
        return true;
    }
    std::string text(length, '\0');
    length = GetEnvironmentVariableA(name, text.data(), length);
    if (length == 0 || length >= text.size()) {
        return false;
    }
    text.resize(length);
    *value = std::move(text);
    return true;
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

unsigned long process_number() {
    return GetCurrentProcessId();
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
    if (length > 3 && last_separator({buffer, length}, PathStyle::windows, local_lead_bytes()) == length - 1) {
        buffer[length - 1] = '\0';
    }
    return 1;
}

FileHandle sys::open_stream(const char* path) {
    // Shared with every other program: the list is only read. A directory
    // does not open without backup semantics; a pipe or a device does.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_UNKNOWN) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : reinterpret_cast<FileHandle>(handle);
}

int sys::identity(FileHandle file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_FILE || GetFileType(as_handle(file)) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(as_handle(file), &info)) {
        return 0;
    }
    *identity = {info.dwVolumeSerialNumber,
                 (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return 1;
}
