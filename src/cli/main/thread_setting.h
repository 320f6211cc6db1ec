// How many threads the command line's per-file work uses.
#pragma once

// Reads BIGTOOL_THREADS once: 1 when it is unset or holds a whole number
// from 1 to 64, 0 (after printing why) otherwise; the front end then ends
// the run.
int read_thread_setting();

// BIGTOOL_THREADS, or, when it is not set, the processors the system gives
// the process, at most 8. 1 means no thread beyond the main one.
unsigned command_threads();
