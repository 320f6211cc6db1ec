// The CREATE command: the archive is argv[1], the input directory the last
// argument (the command word itself when nothing follows it).
#include <cstdio>

#include "common/end_run.h"
#include "common/paths.h"
#include "create/create.h"
#include "platform/platform.h"

void create_command(int argc, char** argv) {
    const char* typed = argv[argc - 1];
    if (!directory_form_accepted(typed, local_path_style())) {
        end_run(2);
    }
    char input_dir[PATH_CAPACITY];
    if (!resolve_path(typed, input_dir, sizeof input_dir)) {
        std::printf("Error: Path too long: '%s'.\n", typed);
        end_run(2);
    }
    std::printf("Import directory: %s\n\n", input_dir);
    if (create_archive(argv[1], input_dir) != 1) {
        end_run(2);
    }
    complete_run();
}
