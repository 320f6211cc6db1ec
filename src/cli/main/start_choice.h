// Whether a run was started from Explorer (double-clicked, or given a file
// dropped on it): Windows then gives it a console of its own, which closes
// with it, so the run waits for Enter at its end and, given one file, lists
// it. Every other run (a console, a script, a pipe, a file) runs as asked.
#pragma once

#include "platform/platform.h"  // ConsoleStart

enum class StartChoice {
    as_asked,
    wait,           // run as asked, then wait for Enter
    list_and_wait,  // LIST the one file named, then wait
};

// `names_file` tells whether a path names an existing file that is no
// folder; it is asked only of the one argument of a run that waits.
StartChoice choose_start(const ConsoleStart& console, int argc, char** argv,
                         bool (*names_file)(const char* path));
