// Win32 backend: the library's new files (platform.h). Only Windows code
// belongs here.
#ifndef _WIN32
#error "win32_made.cpp is the Win32 backend; other systems take posix_made.cpp"
#endif

#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "lib/text/paths.h"
#include "platform/platform.h"

namespace {

HANDLE as_handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool dispose(HANDLE handle) {
    FILE_DISPOSITION_INFO info;
    info.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

}  // namespace

FileHandle made_file_create(const char* path) {
    // DELETE, so that a failed build removes it by its handle; readers may
    // look, nobody may move or write it meanwhile.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : reinterpret_cast<FileHandle>(handle);
}

bool made_name_taken(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int made_file_write_at(FileHandle file, std::uint64_t offset, const void* buffer, std::uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        OVERLAPPED at = {};
        std::uint64_t to = offset + done;
        at.Offset = static_cast<DWORD>(to);
        at.OffsetHigh = static_cast<DWORD>(to >> 32);
        DWORD moved = 0;
        if (!WriteFile(as_handle(file), bytes + done, count - done, &moved, &at) || moved == 0) {
            return 0;
        }
        done += moved;
    }
    return 1;
}

std::uint64_t made_file_copy(FileHandle, std::uint64_t, FileHandle, std::uint64_t, std::uint64_t) {
    // No copy by offsets inside the system: the caller's buffer serves.
    return 0;
}

int made_file_sync(FileHandle file) {
    return FlushFileBuffers(as_handle(file)) != 0;
}

PublishStatus made_file_publish(FileHandle file, const char* path, const char* target) {
    // MoveFileEx takes names, and a file open without sharing deletion
    // cannot be moved: the file is closed first, known by its identity, so
    // that after a failure only that file is removed.
    BY_HANDLE_FILE_INFORMATION made;
    bool known = GetFileInformationByHandle(as_handle(file), &made) != 0;
    CloseHandle(as_handle(file));
    if (known && MoveFileExA(path, target, MOVEFILE_WRITE_THROUGH)) {
        return PublishStatus::published;
    }
    DWORD error = GetLastError();
    HANDLE again = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (again != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION named;
        if (known && GetFileInformationByHandle(again, &named) && same_file(named, made)) {
            dispose(again);
        }
        CloseHandle(again);
    }
    bool exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return known && exists ? PublishStatus::exists : PublishStatus::failed;
}

void made_file_discard(FileHandle file, const char*) {
    // By the handle: held without sharing deletion, the file cannot have
    // been renamed or replaced meanwhile. It goes when the handle closes.
    dispose(as_handle(file));
    CloseHandle(as_handle(file));
}

bool is_read_only(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}


int link_target(const char* path, char* out, std::size_t size) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD room = size > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(size);
    DWORD length = GetFinalPathNameByHandleA(handle, out, room, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= room) {
        return 0;
    }
    // "\\?\C:\x" as "C:\x" and "\\?\UNC\server\x" as "\\server\x", as users type them.
    std::string_view found(out, length);
    std::string plain;
    if (found.substr(0, 8) == "\\\\?\\UNC\\") {
        plain = "\\\\" + std::string(found.substr(8));
    } else if (found.substr(0, 4) == "\\\\?\\") {
        plain = std::string(found.substr(4));
    } else {
        return 1;
    }
    std::memcpy(out, plain.c_str(), plain.size() + 1);
    return 1;
}


void take_permissions(FileHandle, const char*) {
    // The new file takes its folder's inherited permissions, as the old one did.
}


ChangeLock made_lock_for_change(FileHandle file, const char*) {
    // A byte at 4 GiB, beyond any archive's end: no read of the archive
    // meets it, and a second run that asks for it is refused. Held without
    // sharing deletion, the file cannot be moved from its name meanwhile.
    OVERLAPPED at{};
    at.OffsetHigh = 1;
    if (LockFileEx(as_handle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return ChangeLock::locked;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION ? ChangeLock::held : ChangeLock::failed;
}

FileHandle made_open_for_change(const char* path, std::uint64_t* size) {
    // Readers and writers may hold it too; nobody may move it until it is
    // replaced.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER length;
    if (handle == INVALID_HANDLE_VALUE) {
        return INVALID_FILE;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length)) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    if (size != nullptr) {
        *size = static_cast<std::uint64_t>(length.QuadPart);
    }
    return reinterpret_cast<FileHandle>(handle);
}

ReplaceStatus made_file_replace(FileHandle file, const char* path, const char* target, FileHandle replaced) {
    // MoveFileEx takes names, and a file open without sharing cannot be
    // moved: the new file is closed first, known by its identity, so that
    // after a failure only that file is removed. The old file's handle
    // goes last, and the rename is made only while the name still holds
    // that file: another run may have replaced it in between.
    BY_HANDLE_FILE_INFORMATION made;
    bool known = GetFileInformationByHandle(as_handle(file), &made) != 0;
    CloseHandle(as_handle(file));
    bool still_there = true;
    if (replaced != INVALID_FILE) {
        BY_HANDLE_FILE_INFORMATION held;
        bool held_known = GetFileInformationByHandle(as_handle(replaced), &held) != 0;
        CloseHandle(as_handle(replaced));
        HANDLE now = CreateFileA(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        BY_HANDLE_FILE_INFORMATION named;
        still_there = held_known && now != INVALID_HANDLE_VALUE && GetFileInformationByHandle(now, &named) &&
                      same_file(named, held);
        if (now != INVALID_HANDLE_VALUE) {
            CloseHandle(now);
        }
    }
    if (known && still_there && MoveFileExA(path, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return ReplaceStatus::replaced;
    }
    DWORD error = GetLastError();
    BY_HANDLE_FILE_INFORMATION named;
    HANDLE again = known ? CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                         : INVALID_HANDLE_VALUE;
    if (again != INVALID_HANDLE_VALUE && GetFileInformationByHandle(again, &named)) {
        if (named.dwVolumeSerialNumber == made.dwVolumeSerialNumber &&
            named.nFileIndexHigh == made.nFileIndexHigh && named.nFileIndexLow == made.nFileIndexLow) {
            FILE_DISPOSITION_INFO dispose;
            dispose.DeleteFile = TRUE;
            SetFileInformationByHandle(again, FileDispositionInfo, &dispose, sizeof dispose);
        }
        CloseHandle(again);
    }
    if (!still_there) {
        return ReplaceStatus::changed;
    }
    // Access is denied to a read-only file too, which no program holds.
    DWORD attributes = GetFileAttributesA(target);
    bool read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                (error == ERROR_ACCESS_DENIED && !read_only);
    return busy ? ReplaceStatus::in_use : ReplaceStatus::failed;
}

bool name_fits(const char* path) {
    // Bytes of the ANSI code page, never fewer than the characters that
    // the limits count: a name that fits here fits there.
    std::string_view whole(path);
    std::size_t separator = last_separator(whole, PathStyle::windows, code_page_lead_bytes());
    std::size_t name_length = whole.size() - (separator == std::string_view::npos ? 0 : separator + 1);
    if (name_length > 255) {
        return false;
    }
    if (whole.substr(0, 4) == "\\\\?\\") {
        return true;
    }
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH;
}
