// The LIST command.
#include <cstdio>

#include "archive/reader.h"
#include "common/end_run.h"
#include "common/printable.h"
#include "main/front_end.h"

namespace {

// A name longer than the index window, printed from it piece by piece. A
// piece that stops inside a character leaves it to the next one, so that
// each character is made printable whole; a piece short of the name's end
// is longer than the 3 bytes held back at most, so every piece moves on.
int print_name_in_pieces(std::uint32_t length, std::string& shown) {
    std::uint32_t offset = 0;
    while (offset < length) {
        std::optional<std::string_view> piece = entry_name_piece(offset);
        if (!piece) {
            return 0;
        }
        std::string_view text = *piece;
        if (offset + text.size() < length) {
            text = text.substr(0, whole_characters(text));
        }
        std::string_view printed = printable(text, shown);
        std::printf("%.*s", static_cast<int>(printed.size()), printed.data());
        offset += static_cast<std::uint32_t>(text.size());
    }
    return 1;
}

}  // namespace

void list_command() {
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
            std::string_view name = printable(entry->name, shown);
            std::printf("%-8i  %9lu  %.*s\n", i, size, static_cast<int>(name.size()), name.data());
            continue;
        }
        // The entry's view ends with the first piece read.
        std::printf("%-8i  %9lu  ", i, size);
        if (!print_name_in_pieces(entry->nameLength, shown)) {
            end_run(2);
        }
        std::printf("\n");
    }
    close_archive();
    complete_run();
}
