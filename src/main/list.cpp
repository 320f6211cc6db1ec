// The LIST command and the command-word comparison.
#include <cstdio>

#include "archive/reader.h"
#include "common/end_run.h"
#include "main/front_end.h"

bool is_command(std::string_view word, std::string_view command) {
    if (word.size() != command.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != command[i]) {
            return false;
        }
    }
    return true;
}

void list_command() {
    BigHeader header;
    get_header(&header);
    std::printf("Listing all files...\n\nIndex\t\tSize\tFileName\n");
    for (std::int32_t i = 0; i < header.fileCount; ++i) {
        std::optional<BigEntry> entry = find_entry(static_cast<std::uint32_t>(i));
        if (!entry) {
            if (!entry_lookup_failed()) {
                std::printf("\nError: Header file count mismatch.\n");
            }
            end_run(2);
        }
        std::printf("%-8i  %9lu  %.*s\n", i, static_cast<unsigned long>(entry_data_size(*entry)),
                    static_cast<int>(entry->name.size()), entry->name.data());
    }
    close_archive();
    std::printf("Completed successfully\n");
    end_run(0);
}
