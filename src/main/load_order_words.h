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
