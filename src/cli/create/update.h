// The commands that change an archive, or hold it against a folder: each
// runs on the open archive and ends the run.
#pragma once

#include <cstdio>

// UPDATE input-directory: every entry kept in its order, those with a file
// of the same name in the folder taking its bytes, the folder's other files
// added after them.
[[noreturn]] void update_command(int argc, char** argv, std::FILE* data);

// COMPARE input-directory: what UPDATE would change, written nowhere; exit
// status 3 when there is anything.
[[noreturn]] void compare_command(int argc, char** argv, std::FILE* data);

// DELETE pattern ...: the entries the patterns select, removed.
[[noreturn]] void delete_command(int argc, char** argv, std::FILE* data);
