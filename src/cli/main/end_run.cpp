// See end_run.h.
#include "cli/main/end_run.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

bool consoleKept = false;

// The last step of every run.
[[noreturn]] void leave(int status) {
    if (consoleKept) {
        wait_for_enter("\nPress Enter to close this window.");
    }
    std::exit(status);
}

}  // namespace

void keep_console_open() {
    consoleKept = true;
}

bool output_written() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void end_output_lost() {
    std::fputs("Error: Could not write to standard output.\n", stderr);
    leave(2);
}

void end_run(int status) {
    if (!output_written() || !finish_console_output()) {
        end_output_lost();
    }
    leave(status);
}

void complete_data_run(std::FILE* data, bool announce) {
    if (std::fflush(data) != 0 || std::ferror(data)) {
        std::printf("Error: Could not write to standard output.\n");
        end_run(2);
    }
    if (announce) {
        complete_run();
    }
    end_run(0);
}

void complete_run() {
    if (!output_written()) {
        end_output_lost();
    }
    std::printf("Completed successfully\n");
    end_run(0);
}
