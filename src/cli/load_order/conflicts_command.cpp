// CONFLICTS: the names that archives later in the load order hide with
// other data, one line each; writes nothing.
#include <cstdio>
#include <string>

#include "cli/load_order/archive_set.h"
#include "cli/load_order/load_order_words.h"
#include "cli/main/end_run.h"
#include "cli/text/printable.h"

void conflicts_command(int argc, char** argv, std::FILE*) {
    std::vector<std::string> paths = archive_arguments(argc, argv);
    if (paths.size() < 2) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    ArchiveSet set;
    open_archive_set(std::move(paths), &set);
    std::string shown;
    OverlayWalk walk = overlay_conflicts(set.overlay, [&](const Conflict& conflict) {
        std::string_view name = quoted_name(holder_name(set.overlay, conflict.holders.back()), shown);
        std::string line = "Conflict '" + std::string(name) + "':";
        for (std::size_t h = 0; h < conflict.holders.size(); ++h) {
            const Holder& holder = conflict.holders[h];
            line += h + 1 < conflict.holders.size() ? " '" : " winner '";
            line += shown_path(set.paths[holder.archive]) + "'[" + std::to_string(holder.entry) + "]";
            line += h + 1 < conflict.holders.size() ? "," : "\n";
        }
        std::fputs(line.c_str(), stdout);
        return true;
    });
    if (walk.fault != OverlayFault::none) {
        end_walk(set, walk);
    }
    std::printf("Held more than once with the same bytes: %lu\n", static_cast<unsigned long>(walk.sameBytes));
    if (walk.conflicts > 0) {
        std::printf("Error: %lu conflict(s) found.\n", static_cast<unsigned long>(walk.conflicts));
        end_run(3);
    }
    complete_run();
}
