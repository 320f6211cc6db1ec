// The LIST command, which the front end runs itself, and the information block it shows.
#pragma once

#include <cstdio>

#include "lib/format/big_format.h"

// Completes a "Validating" line with "Done" and the information block.
void print_information(const BigHeader& header);

// Lists every entry of the open archive and ends the run.
[[noreturn]] void list_command(int argc, char** argv, std::FILE* data);

// The FIND command: argv[3] onwards are name patterns (none: every entry).
// Writes a row per selected entry to `data`, standard output taken for it;
// ends the run.
[[noreturn]] void find_command(int argc, char** argv, std::FILE* data);
