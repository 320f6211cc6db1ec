// The FIND command: the entries whose names match, one row each, for
// scripts to read: nothing else reaches standard output.
#include <charconv>
#include <cstdio>

#include "cli/main/end_run.h"
#include "cli/main/front_end.h"
#include "cli/reader/reader.h"
#include "cli/reader/selection.h"
#include "cli/text/print_name.h"
#include "cli/text/printable.h"

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
    // Rows are held and written 64 KiB at a time, those before a failure
    // always written before it.
    constexpr std::size_t ROWS_HELD = 64 * 1024;
    std::string rows;
    auto write_rows = [&] {
        std::fwrite(rows.data(), 1, rows.size(), data);
        rows.clear();
    };
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        if (!was_selected(selection, n)) {
            continue;
        }
        // The numbers by hand, a row in one write: a million rows are made
        // of these, and printf's parsing of its format, or writes of a few
        // bytes, would be most of it.
        char numbers[3 * 11];
        char* end = numbers;
        for (std::uint32_t value : {n, entry_data_size(entry), entry_data_offset(entry)}) {
            end = std::to_chars(end, numbers + sizeof numbers, value).ptr;
            *end++ = '\t';
        }
        if (entry_name_is_whole(entry)) {
            rows.append(numbers, end);
            rows += printable(entry.name, shown);
            rows += '\n';
            if (rows.size() >= ROWS_HELD) {
                write_rows();
            }
            continue;
        }
        write_rows();
        std::fwrite(numbers, 1, static_cast<std::size_t>(end - numbers), data);
        if (!print_entry_name(data, entry, shown)) {
            end_run(2);
        }
        std::fputc('\n', data);
    }
    write_rows();
    close_archive();
    complete_data_run(data, false);
}
