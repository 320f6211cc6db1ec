// DIFF: what a new archive adds, removes and changes against the old one,
// one line each, in the old one's order and then the new one's; writes
// nothing.
#include <cstdio>
#include <string>

#include "cli/load_order/archive_set.h"
#include "cli/load_order/load_order_words.h"
#include "cli/main/end_run.h"
#include "cli/text/printable.h"

void diff_command(int argc, char** argv, std::FILE*) {
    std::vector<std::string> paths = archive_arguments(argc, argv);
    if (paths.size() != 2) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    ArchiveSet set;
    open_archive_set(std::move(paths), &set);
    std::string shown;
    unsigned long counts[3] = {};
    OverlayWalk walk = overlay_differences(set.overlay, [&](Difference difference, Holder holder) {
        static const char* const WORDS[] = {"Added", "Removed", "Changed"};
        std::string_view name = quoted_name(holder_name(set.overlay, holder), shown);
        std::printf("%s[%lu] '%.*s'\n", WORDS[static_cast<int>(difference)], static_cast<unsigned long>(holder.entry),
                    static_cast<int>(name.size()), name.data());
        ++counts[static_cast<int>(difference)];
    });
    if (walk.fault != OverlayFault::none) {
        end_walk(set, walk);
    }
    std::printf("Files added: %lu, removed: %lu, changed: %lu\n", counts[0], counts[1], counts[2]);
    if (unsigned long found = counts[0] + counts[1] + counts[2]; found > 0) {
        std::printf("Error: %lu difference(s) found.\n", found);
        end_run(3);
    }
    complete_run();
}
