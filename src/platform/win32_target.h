// Win32 backend: what the command line's backend (win32.cpp) and the
// library's (win32_shared.cpp) share: names in the ANSI code page, and the
// opening of an extraction's target. Only Windows code includes this.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // SetFileInformationByHandle
#endif
#include <windows.h>

#include <string>

// `wide` in the ANSI code page, in `ansi`: true when exactly, false when a
// character has no place there (then it shows as '?', never as a best-fit
// stand-in).
bool to_ansi_exactly(const wchar_t* wide, std::string* ansi);

// A path of this tool, in the ANSI code page, as the system's wide text.
bool to_wide(const char* ansi, std::wstring* wide);

inline bool is_directory_attribute(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The name `path` itself opened, never what a link there leads to, with
// its information; INVALID_HANDLE_VALUE when it cannot be opened so.
HANDLE open_name_itself(const char* path, DWORD access, BY_HANDLE_FILE_INFORMATION* info);

// create_or_reuse for a name that exists (see win32_shared.cpp).
HANDLE open_own_file(const char* path);
