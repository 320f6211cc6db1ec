// The LIST command, which the front end runs itself.
#pragma once

#include <cstdio>

// Lists every entry of the open archive and ends the run.
[[noreturn]] void list_command();

// The FIND command: argv[3] onwards are name patterns (none: every entry).
// Writes a row per selected entry to `data`, standard output taken for it;
// ends the run.
[[noreturn]] void find_command(int argc, char** argv, std::FILE* data);
