// The CREATE command: the archive is argv[1], the input directory the last
// argument (the command word itself when nothing follows it).
#include <cstdio>

#include "cli/create/create.h"
#include "cli/main/end_run.h"
#include "cli/main/thread_setting.h"
#include "cli/text/directory_form.h"
#include "cli/text/printable.h"
#include "lib/text/paths.h"
#include "lib/threads/work_pool.h"
#include "platform/platform.h"

namespace {

// Ends the run, removing the archive, unless `written`.
void keep_archive_if(bool written) {
    if (!written) {
        abandon_archive();
        end_output_lost();
    }
}

}  // namespace

void resolve_input_directory(const char* typed, char* input_dir) {
    if (!directory_form_accepted(typed, local_path_style(), local_lead_bytes())) {
        end_run(2);
    }
    std::string shown;
    switch (resolve_path(typed, input_dir, PATH_CAPACITY)) {
    case ResolveStatus::resolved: break;
    case ResolveStatus::too_long: {
        std::string_view quoted = quoted_name(typed, shown);
        std::printf("Error: Path too long: '%.*s'.\n", static_cast<int>(quoted.size()), quoted.data());
        end_run(2);
    }
    case ResolveStatus::no_current_directory:
        std::printf("Error: Could not get the current directory.\n");
        end_run(2);
    }
    std::printf("Import directory: %s\n\n", printable(input_dir, shown));
}

void create_command(int argc, char** argv, std::FILE*) {
    // A reader that went away (`| head`) is a failed write like any other,
    // which removes the archive, not a signal that ends the run and keeps it.
    keep_running_when_output_closes();
    char input_dir[PATH_CAPACITY];
    resolve_input_directory(argv[argc - 1], input_dir);
    WorkPool pool(command_threads());
    share_walk_with(&pool);
    if (create_archive(argv[1], input_dir) != 1) {
        end_run(2);
    }
    // A run that ends with status 2 leaves no archive, whatever made it
    // fail: its last lines must reach their reader before the archive stays.
    keep_archive_if(output_written());
    std::printf("Completed successfully\n");
    keep_archive_if(output_written());
    keep_archive();
    end_run(0);
}
