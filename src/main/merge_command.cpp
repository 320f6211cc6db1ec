// MERGE: one archive that holds what a load order of archives gives, each
// name once, with the data of the archive that wins.
#include <cstdio>
#include <string>

#include "common/end_run.h"
#include "main/archive_set.h"
#include "main/load_order_words.h"

void merge_command(int argc, char** argv, std::FILE*) {
    std::vector<std::string> paths = archive_arguments(argc, argv, false);
    if (paths.empty()) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    ArchiveSet set;
    open_archive_set(std::move(paths), &set);
    std::vector<Holder> winners;
    try {
        winners.reserve(set.overlay.names.size());
    } catch (const std::bad_alloc&) {
        std::printf("Error: Failed to allocate enough memory.\n");
        end_run(2);
    }
    for (std::uint32_t k = 0; k < set.overlay.names.size(); ++k) {
        winners.push_back(overlay_winner(set.overlay, k));
    }
    write_set_archive(argv[1], set, winners);
}
