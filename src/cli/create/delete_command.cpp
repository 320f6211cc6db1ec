// DELETE: the entries that patterns select, removed by rewriting the
// archive without them. Every pattern is resolved before anything is
// written, and an archive is never left with no entry.
#include <cstdio>
#include <string>

#include "cli/create/rewrite.h"
#include "cli/create/tree_match.h"
#include "cli/create/update.h"
#include "cli/main/end_run.h"
#include "cli/reader/reader.h"
#include "cli/reader/selection.h"
#include "cli/text/printable.h"

void delete_command(int argc, char** argv, std::FILE*) {
    keep_running_when_output_closes();
    if (argc < 4) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    refuse_read_only(argv[1]);
    Selection selection;
    if (!read_selection(argv + 3, argc - 3, &selection)) {
        end_run(2);
    }
    BigHeader header;
    get_header(&header);
    const auto count = static_cast<std::uint32_t>(header.fileCount);
    unsigned long removed = 0;
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        if (selects_first(selection, n, entry)) {
            plan_removal();
            ++removed;
        } else if (entry_data_readable(n, entry)) {
            plan_entry(entry, nullptr, 0);
        } else {
            end_run(2);
        }
    }
    if (report_unmatched(selection) > 0) {
        end_run(2);
    }
    if (removed == count) {
        std::printf("Error: Every entry matches; an archive with no entry cannot be read.\n");
        end_run(2);
    }
    std::string shown;
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        if (was_selected(selection, n)) {
            std::string_view name = quoted_name(entry.name, shown);
            std::printf("Removing[%lu] %lukb '%.*s'\n", static_cast<unsigned long>(n),
                        static_cast<unsigned long>(entry_data_size(entry) / 1024),
                        static_cast<int>(name.size()), name.data());
        }
    }
    replace_archive(argv[1]);
    std::printf("Files kept: %lu, removed: %lu\n", count - removed, removed);
    complete_run();
}
