// POSIX backend: opening an extraction's target, shared by the command
// line's open (posix.cpp), which checks it against the files the process
// holds, and the library's (posix_shared.cpp), which checks it against its
// archive. Only POSIX code includes this.
#pragma once

#include <sys/stat.h>

// Whether the file just opened as `fd` may be written; closes it when not.
using TargetCheck = bool (*)(int fd, struct stat* st, void* context);

// create_or_reuse, each file checked by `usable`: the name's own file,
// never one that a link leads to. A symbolic link is removed; a file with
// other links is removed only after the check, so that no name of a
// refused file goes. The file is then made exclusively, once: whatever took
// the name meanwhile makes it fail, and nothing loops. The descriptor, or -1.
int open_own_file_at(int directory, const char* name, int flags, struct stat* st, TargetCheck usable,
                     void* context);
