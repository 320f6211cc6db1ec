// The LIST command and the information block.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/main/end_run.h"
#include "cli/main/front_end.h"
#include "cli/reader/reader.h"
#include "cli/text/print_name.h"
#include "cli/text/printable.h"

void print_information(const BigHeader& header) {
    std::printf("Done\n\n\tInformation\nFiles: %i\nSize: %lu\nStart offset: %08lX\n\n", header.fileCount,
                static_cast<unsigned long>(header.archiveSize), static_cast<unsigned long>(header.startOffset));
}

namespace {

// A row's "%-8i  %9lu  " as printf makes it, and the name: printf's parse of
// its format, once a row, was most of a listing's time.
void append_row(std::string& row, std::uint32_t index, unsigned long size, std::string_view name) {
    // At most 10 digits of index, padded to 8, two spaces, at most 20 of
    // size, padded to 9, two spaces: 34 bytes, written back to front.
    char head[40];
    char* at = head + sizeof head;
    *--at = ' ';
    *--at = ' ';
    char* const sizeEnd = at;
    do {
        *--at = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size > 0);
    while (sizeEnd - at < 9) {
        *--at = ' ';
    }
    char digits[10];
    int length = 0;
    do {
        digits[length++] = static_cast<char>('0' + index % 10);
        index /= 10;
    } while (index > 0);
    const int padding = length < 8 ? 8 - length : 0;
    at -= 2 + padding;
    std::memset(at, ' ', static_cast<std::size_t>(2 + padding));
    for (int k = 0; k < length; ++k) {
        *--at = digits[k];  // the last digit first
    }
    row.append(at, static_cast<std::size_t>(head + sizeof head - at));
    row.append(name);
}

}  // namespace

void list_command(int, char**, std::FILE*) {
    BigHeader header;
    get_header(&header);
    std::printf("Listing all files...\n\nIndex\t\tSize\tFileName\n");
    std::string shown;
    std::string row;
    for (std::int32_t i = 0; i < header.fileCount; ++i) {
        std::optional<BigEntry> entry = find_entry(static_cast<std::uint32_t>(i));
        if (!entry) {
            if (!entry_lookup_failed()) {
                std::printf("\nError: Header file count mismatch.\n");
            }
            end_run(2);
        }
        auto size = static_cast<unsigned long>(entry_data_size(*entry));
        if (entry_name_is_whole(*entry)) {
            // One write a row: a listing of millions of entries is made of these.
            row.clear();
            append_row(row, static_cast<std::uint32_t>(i), size, printable(entry->name, shown));
            row += '\n';
            std::fwrite(row.data(), 1, row.size(), stdout);
            continue;
        }
        std::printf("%-8i  %9lu  ", i, size);
        if (!print_entry_name(stdout, *entry, shown)) {
            end_run(2);
        }
        std::printf("\n");
    }
    close_archive();
    complete_run();
}
