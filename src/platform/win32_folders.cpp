// Win32 backend: a folder's listing, for the library's walk and the
// command line's alike; nothing of the process is kept.
#include "platform/win32_target.h"

#include <string>

#include "platform/listed_items.h"
#include "platform/platform.h"

// Listed in the order the system gives (on NTFS and under Wine: by name,
// letters compared without regard to case). Junctions that loop are not
// seen here; such a walk ends at the path buffers' limit.
bool folder_list(const char* directory, ListDetail, ListedItems* listed, FolderIdentity* identity, WorkPool*) {
    *identity = {};
    // The wide listing gives the names as they are; the ANSI one would give
    // best-fit stand-ins ("l.txt" for "ł.txt") that open other files.
    std::wstring wide_directory;
    if (!to_wide(directory, &wide_directory)) {
        return false;
    }
    std::wstring pattern = wide_directory + L"\\*";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        // A drive root lists no "." or "..": when empty, it lists nothing.
        return GetLastError() == ERROR_FILE_NOT_FOUND &&
               is_directory_attribute(GetFileAttributesW(wide_directory.c_str()));
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
        add_listed(*listed, name, is_dir, is_dir ? 0 : size, !exact);
    } while (FindNextFileW(find, &found));
    bool failed = GetLastError() != ERROR_NO_MORE_FILES;
    FindClose(find);
    return !failed;
}
