// Win32 backend: the shared, positioned reads of platform.h. Only Windows
// code belongs here.
#ifndef _WIN32
#error "win32_shared.cpp is the Win32 backend; other systems take posix_shared.cpp"
#endif

#include <windows.h>

#include "platform/platform.h"

namespace {

HANDLE as_handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

// Reserved names (NUL, CON) and pipes open as devices; only files on a disk
// are archives.
FileHandle checked(HANDLE handle, std::uint64_t* size) {
    if (handle == INVALID_HANDLE_VALUE) {
        return INVALID_FILE;
    }
    LARGE_INTEGER length;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length) ||
        !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    *size = static_cast<std::uint64_t>(length.QuadPart);
    return reinterpret_cast<FileHandle>(handle);
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

FileHandle file_open_shared(const char* path, std::uint64_t* size) {
    return checked(CreateFileA(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr),
                   size);
}

bool wide_paths() {
    return true;
}

FileHandle file_open_shared_wide(const wchar_t* path, std::uint64_t* size) {
    return checked(CreateFileW(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr),
                   size);
}

// ReadFile with an offset reads there whatever the handle's position,
// which it then moves, but no reader of this handle uses the position.
int file_read_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count,
                 std::uint32_t* got) {
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        OVERLAPPED at = {};
        std::uint64_t from = offset + done;
        at.Offset = static_cast<DWORD>(from);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD moved = 0;
        if (!ReadFile(as_handle(file), bytes + done, count - done, &moved, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return 0;
        }
        if (moved == 0) {
            break;
        }
        done += moved;
    }
    *got = done;
    return 1;
}

void file_close_shared(FileHandle file) {
    CloseHandle(as_handle(file));
}
