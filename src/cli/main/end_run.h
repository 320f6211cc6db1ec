// The ways out of the process. Console output is flushed and checked first:
// a run whose output was lost ends with status 2, and says so on standard
// error, the one place left to say it.
#pragma once

#include <cstdio>

[[noreturn]] void end_run(int status);

// From now on the run, however it ends, asks for Enter before it does, once
// its output is written: its console closes with it (started from Explorer).
void keep_console_open();

// Whether everything printed so far has been written.
bool output_written();

// Ends the run with status 2 for output that could not be written.
[[noreturn]] void end_output_lost();

// Prints "Completed successfully" and ends with status 0, once everything
// printed before it has been written.
[[noreturn]] void complete_run();

// Ends a run that wrote data to `data` (standard output, taken for it)
// with status 0, after "Completed successfully" when `announce`, once the
// data and the console's text were written; otherwise says that standard
// output could not be written, status 2.
[[noreturn]] void complete_data_run(std::FILE* data, bool announce);
