// The EXTRACT command's arguments: which entries, and where to.
#include <cstdio>

#include "archive/reader.h"
#include "common/end_run.h"
#include "common/number.h"
#include "common/paths.h"
#include "extract/extract.h"
#include "platform/platform.h"

void extract_command(int argc, char** argv, std::int32_t file_count) {
    int index_arguments = argc - 4;
    if (index_arguments < 1) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    const char* outdir = argv[argc - 1];
    std::printf("Output directory: %s\nExtracting %i file(s)...\n\n", outdir, index_arguments);
    if (!directory_form_accepted(outdir, local_path_style())) {
        end_run(2);
    }
    // Made where the files go: one resolution serves both.
    if (const char* resolved = output_directory(outdir)) {
        make_path(resolved);
    }

    // A star in the last index position means every entry, in index order.
    if (argv[argc - 2][0] == '*') {
        for (std::int32_t i = 0; i < file_count; ++i) {
            if (!extract_entry(static_cast<std::uint32_t>(i), outdir)) {
                end_run(2);
            }
        }
    } else {
        for (int a = argc - 2; a >= 3; --a) {
            auto n = static_cast<std::uint32_t>(strtol32(argv[a]));
            if (n >= static_cast<std::uint32_t>(file_count)) {
                std::printf("Skipping index number %lu\n", static_cast<unsigned long>(n));
                continue;
            }
            if (!extract_entry(n, outdir)) {
                end_run(2);
            }
        }
    }
    close_archive();
    complete_run();
}
