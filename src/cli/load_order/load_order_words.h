// The words that read many archives at once, in a load order: each takes
// its archives from argv[1] and the arguments after the word, opens and
// shows every one itself, and ends the run.
#pragma once

#include <cstdio>

// CONFLICTS archive ...: the names that several archives hold with
// different data; exit status 3 when there is one.
[[noreturn]] void conflicts_command(int argc, char** argv, std::FILE* data);

// DIFF new-archive: what the new archive adds, removes and changes against
// argv[1]; exit status 3 when anything.
[[noreturn]] void diff_command(int argc, char** argv, std::FILE* data);

// PATCH old-archive new-archive: argv[1] made of what the new archive adds
// and changes against the old one, in its order.
[[noreturn]] void patch_command(int argc, char** argv, std::FILE* data);

// MERGE archive ...: argv[1] made of the entries that win in the load
// order, each name once, in the order the names first appear.
[[noreturn]] void merge_command(int argc, char** argv, std::FILE* data);
