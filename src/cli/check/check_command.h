// The CHECK command: whether the open archive is sound. It reads the index
// and every entry's data once and writes nothing.
#pragma once

#include <cstdio>

// Prints every finding, and ends the run: status 0 when none is a problem.
[[noreturn]] void check_command(int argc, char** argv, std::FILE* data);
