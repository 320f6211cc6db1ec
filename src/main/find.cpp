// The FIND command: the entries whose names match, one row each, for
// scripts to read: nothing else reaches standard output.
#include <charconv>
#include <cstdio>

#include "archive/reader.h"
#include "archive/selection.h"
#include "common/end_run.h"
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
            selects_first(selection, n, walked_entry(n));
        }
        if (report_unmatched(selection) > 0) {
            end_run(2);
        }
    }
    std::string shown;
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        if (!was_selected(selection, n)) {
            continue;
        }
        // The numbers by hand, a row in one write: a million rows are made
        // of these, and printf's parsing of its format would be most of it.
        char numbers[3 * 11];
        char* end = numbers;
        for (std::uint32_t value : {n, entry_data_size(entry), entry_data_offset(entry)}) {
            end = std::to_chars(end, numbers + sizeof numbers, value).ptr;
            *end++ = '\t';
        }
        std::fwrite(numbers, 1, static_cast<std::size_t>(end - numbers), data);
        if (!print_entry_name(data, entry, shown)) {
            end_run(2);
        }
        std::fputc('\n', data);
    }
    close_archive();
    complete_data_run(data, false);
}
