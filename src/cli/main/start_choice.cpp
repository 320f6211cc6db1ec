// See start_choice.h.
#include "cli/main/start_choice.h"

StartChoice choose_start(const ConsoleStart& console, int argc, char** argv,
                         bool (*names_file)(const char* path)) {
    // Anyone else on the console (the shell that started it) keeps it open.
    if (console.processes != 1 || !console.outputIsConsole || console.maybeTerminal) {
        return StartChoice::as_asked;
    }
    return argc == 2 && names_file(argv[1]) ? StartChoice::list_and_wait : StartChoice::wait;
}
