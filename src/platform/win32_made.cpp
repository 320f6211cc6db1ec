// Win32 backend: the library's new files (platform.h). Only Windows code
// belongs here.
#ifndef _WIN32
#error "win32_made.cpp is the Win32 backend; other systems take posix_made.cpp"
#endif

#include <windows.h>

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

PathStyle local_path_style() {
    return PathStyle::windows;
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
