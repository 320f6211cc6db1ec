// POSIX backend: the two steps on names that the tool's files and the
// library's new files share. Only POSIX code includes this.
#pragma once

#include <string>

// Renames `from` to `to` unless `to` exists; true when renamed.
bool rename_without_replacing(const char* from, const char* to);

// Takes the name `path` from the open file `fd` when `path` still names it:
// it is moved to a name of this process's own, *removable, for the caller
// to remove. False, and nothing removable, when `path` names another file.
bool claim_name(int fd, const char* path, std::string* removable);

// Makes the folder that holds `target` keep a rename made in it.
void sync_folder(const char* target);
