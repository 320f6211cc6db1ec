// The LIST command and the information block.
#include <cstdio>

#include "archive/reader.h"
#include "common/end_run.h"
#include "common/printable.h"
#include "main/front_end.h"
#include "main/print_name.h"

void print_information(const BigHeader& header) {
    std::printf("Done\n\n\tInformation\nFiles: %i\nSize: %lu\nStart offset: %08lX\n\n", header.fileCount,
                static_cast<unsigned long>(header.archiveSize), static_cast<unsigned long>(header.startOffset));
}

void list_command(int, char**, std::FILE*) {
    BigHeader header;
    get_header(&header);
    std::printf("Listing all files...\n\nIndex\t\tSize\tFileName\n");
    std::string shown;
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
            // One call a row: a listing of millions of entries is made of these.
            std::string_view name = printable(entry->name, shown);
            std::printf("%-8i  %9lu  %.*s\n", i, size, static_cast<int>(name.size()), name.data());
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
