// Win32 backend: the library's calls of platform.h: shared, positioned
// reads, and the writing of extracted files, with no state of the process. Only Windows
// code belongs here.
#ifndef _WIN32
#error "win32_shared.cpp is the Win32 backend; other systems take posix_shared.cpp"
#endif

#include "platform/win32_target.h"

#include <cwchar>
#include <string>

#include "lib/text/code_page.h"
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

// `wide` in the ANSI code page, in `ansi`: true when exactly, false when a
// character has no place there (then it shows as '?', never as a best-fit
// stand-in). What comes back from the ANSI text must be `wide` again. The
// flags are those the code page takes: UTF-8 refuses WC_NO_BEST_FIT_CHARS.
bool to_ansi_exactly(const wchar_t* wide, std::string* ansi) {
    ansi->clear();
    int wide_length = static_cast<int>(wcslen(wide));
    if (wide_length == 0) {
        return true;
    }
    BOOL defaulted = FALSE;
    DWORD flags = 0;
    BOOL* defaulted_at = nullptr;
    switch (narrowing_flags(GetACP())) {
    case NarrowingFlags::no_best_fit:
        flags = WC_NO_BEST_FIT_CHARS;
        defaulted_at = &defaulted;
        break;
    case NarrowingFlags::fail_on_invalid: flags = WC_ERR_INVALID_CHARS; break;
    case NarrowingFlags::none: break;
    }
    int length = WideCharToMultiByte(CP_ACP, flags, wide, wide_length, nullptr, 0, nullptr, defaulted_at);
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

// The name `path` itself opened, never what a link there leads to (backup
// semantics, so that a link to a folder opens too), with its information;
// INVALID_HANDLE_VALUE when it cannot be opened so.
HANDLE open_name_itself(const char* path, DWORD access, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE handle = CreateFileA(path, access, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE && !GetFileInformationByHandle(handle, info)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

namespace {

bool is_link(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool is_plain_file(const BY_HANDLE_FILE_INFORMATION& info) {
    return !is_link(info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           info.nNumberOfLinks <= 1;
}

}  // namespace

// create_or_reuse for a name that exists: its own file, with its bytes,
// when that is a plain file with no other link; a link (any reparse point,
// the link itself, not what it leads to) or a file with other links is
// removed by a handle that shows it to be one, and the file made anew, once. A file this
// process holds is not opened at all (share mode 0), so none of its names
// is removed; a directory is refused. Removal is asked for only where it is
// needed: a file that may be written but not removed is written as before.
HANDLE open_own_file(const char* path) {
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE handle = open_name_itself(path, GENERIC_READ | GENERIC_WRITE, &info);
    if (handle != INVALID_HANDLE_VALUE) {
        if (is_plain_file(info)) {
            return handle;
        }
        CloseHandle(handle);
    }
    handle = open_name_itself(path, DELETE, &info);
    if (handle == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    bool replace = is_link(info) || ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                                     info.nNumberOfLinks > 1);
    FILE_DISPOSITION_INFO dispose;
    dispose.DeleteFile = TRUE;
    bool removed =
        replace && SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
    CloseHandle(handle);
    if (!removed) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool name_in_code_page(std::string_view name) {
    const int length = static_cast<int>(name.size());
    if (length == 0) {
        return true;
    }
    int wide_length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
    if (wide_length <= 0) {
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, wide.data(), wide_length);
    // A NUL inside would end the wide text early: entry names hold none.
    std::string back;
    return to_ansi_exactly(wide.c_str(), &back) && back == name;
}

// NTFS compares names through its table of upper case letters, which the
// invariant locale's simple mapping follows: no letter becomes two.
bool fold_letter_case(std::string_view text, std::string* out) {
    const int length = static_cast<int>(text.size());
    int wide_length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (length == 0 || wide_length <= 0) {
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), wide_length);
    std::wstring upper(static_cast<std::size_t>(wide_length), L'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), wide_length, upper.data(), wide_length) !=
        wide_length) {
        return false;
    }
    return to_ansi_exactly(upper.c_str(), out);
}

PathKind path_kind(const char* path) {
    // The attributes of a link are its own, not those of what it leads to.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return PathKind::missing;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return PathKind::link;
    }
    return is_directory_attribute(attributes) ? PathKind::directory : PathKind::other;
}

MakeDirStatus directory_make(const char* path) {
    if (CreateDirectoryA(path, nullptr)) {
        return MakeDirStatus::made;
    }
    switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS: return MakeDirStatus::exists;
    case ERROR_PATH_NOT_FOUND: return MakeDirStatus::parent_missing;
    default: return MakeDirStatus::other_failure;
    }
}

const LeadBytes& code_page_lead_bytes() {
    // The code page is the process's for its life: asked once.
    static const LeadBytes lead = [] {
        LeadBytes bytes{};
        CPINFO info;
        if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2) {
            for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
                for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) {
                    bytes[b] = true;
                }
            }
        }
        return bytes;
    }();
    return lead;
}

int file_identity_shared(FileHandle file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(as_handle(file), &info)) {
        return 0;
    }
    *identity = {info.dwVolumeSerialNumber,
                 (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return 1;
}

namespace {

// Whether a file that another handle holds without sharing, at `path`, is
// `avoid`: this process's own archive, not another program's hold.
bool is_avoided(const char* path, const FileIdentity* avoid) {
    if (avoid == nullptr) {
        return false;
    }
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    FileIdentity found;
    bool same = file_identity_shared(reinterpret_cast<FileHandle>(handle), &found) &&
                found.volume == avoid->volume && found.file == avoid->file;
    CloseHandle(handle);
    return same;
}

}  // namespace

FileHandle file_open_target_shared(const char* path, const FileIdentity* avoid, TargetOpen* opened) {
    // Share mode 0: a file that any handle holds, the archive's included,
    // is not opened, so none of its names is removed.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool made = handle != INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE &&
        (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
        handle = open_own_file(path);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        opened->heldElsewhere =
            (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) && !is_avoided(path, avoid);
        return INVALID_FILE;
    }
    auto file = reinterpret_cast<FileHandle>(handle);
    FileIdentity* identity = &opened->identity;
    LARGE_INTEGER size;
    size.QuadPart = 0;
    if (GetFileType(handle) != FILE_TYPE_DISK || !file_identity_shared(file, identity) ||
        (avoid != nullptr && avoid->volume == identity->volume && avoid->file == identity->file) ||
        (!made && !GetFileSizeEx(handle, &size))) {
        CloseHandle(handle);
        return INVALID_FILE;
    }
    opened->size = static_cast<std::uint64_t>(size.QuadPart);
    return file;
}

FileHandle file_open_again(FileHandle file) {
    // A handle of its own: ReadFile at an offset moves the position of the
    // handle it reads through, which the first one's reader relies on.
    HANDLE handle = ReOpenFile(as_handle(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : reinterpret_cast<FileHandle>(handle);
}

FileHandle file_open_again_for_writing(FileHandle) {
    // A new archive shares no writing, and a write at an offset through
    // the one handle would move the position its writer relies on.
    return INVALID_FILE;
}

int file_empty_shared(FileHandle file) {
    LARGE_INTEGER start;
    start.QuadPart = 0;
    return SetFilePointerEx(as_handle(file), start, nullptr, FILE_BEGIN) && SetEndOfFile(as_handle(file));
}

int file_write_shared(FileHandle file, const void* buffer, std::uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        DWORD put = 0;
        if (!WriteFile(as_handle(file), bytes + done, count - done, &put, nullptr) || put == 0) {
            return 0;
        }
        done += put;
    }
    return 1;
}

int file_flush_shared(FileHandle file) {
    return FlushFileBuffers(as_handle(file)) != 0;
}

PathStyle local_path_style() {
    return PathStyle::windows;
}

unsigned processor_count() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) {
        return 1;
    }
    unsigned count = 0;
    for (; process != 0; process &= process - 1) {
        ++count;
    }
    return count;
}
