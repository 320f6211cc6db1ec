// Printing an entry's name as a listing shows it: made printable, and
// whole, however long, read from the index in pieces when the window holds
// only its start.
#pragma once

#include <cstdio>
#include <string>

#include "lib/format/big_format.h"

// Prints the name of `entry`, which find_entry gave last, to `out`; the
// entry's view ends when a piece is read. 1, or 0 after printing why the
// index could not be read.
int print_entry_name(std::FILE* out, const BigEntry& entry, std::string& shown);
