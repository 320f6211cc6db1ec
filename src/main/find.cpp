// The FIND command: the entries whose names match, one row each, for
// scripts to read: nothing else reaches standard output.
#include <cstdio>

#include "archive/reader.h"
#include "archive/selection.h"
#include "common/end_run.h"
#include "common/printable.h"
#include "main/front_end.h"
#include "main/print_name.h"

void find_command(int argc, char** argv, std::FILE* data) {
    Selection selection;
    if (!read_selection(argv + 3, argc - 3, &selection)) {
        end_run(2);
    }
    BigHeader header;
    get_header(&header);
    const auto count = static_cast<std::uint32_t>(header.fileCount);
    // Every pattern must select something before a row is written.
    if (!selection.patterns.empty()) {
        for (std::uint32_t n = 0; n < count; ++n) {
            selects(selection, walked_entry(n));
        }
        if (report_unmatched(selection) > 0) {
            end_run(2);
        }
    }
    std::string shown;
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        if (!selects(selection, entry)) {
            continue;
        }
        auto size = static_cast<unsigned long>(entry_data_size(entry));
        auto offset = static_cast<unsigned long>(entry_data_offset(entry));
        if (entry_name_is_whole(entry)) {
            // One call a row, as LIST: a million rows are made of these.
            std::string_view name = printable(entry.name, shown);
            std::fprintf(data, "%lu\t%lu\t%lu\t%.*s\n", static_cast<unsigned long>(n), size, offset,
                         static_cast<int>(name.size()), name.data());
            continue;
        }
        std::fprintf(data, "%lu\t%lu\t%lu\t", static_cast<unsigned long>(n), size, offset);
        if (!print_entry_name(data, entry, shown)) {
            end_run(2);
        }
        std::fputc('\n', data);
    }
    close_archive();
    complete_data_run(data, false);
}
