// See print_name.h.
#include "cli/text/print_name.h"

#include "cli/reader/reader.h"
#include "cli/text/printable.h"

int print_entry_name(std::FILE* out, const BigEntry& entry, std::string& shown) {
    if (entry_name_is_whole(entry)) {
        std::string_view name = printable(entry.name, shown);
        std::fwrite(name.data(), 1, name.size(), out);
        return 1;
    }
    // A piece that stops inside a character leaves it to the next one, so
    // that each character is made printable whole; a piece short of the
    // name's end is longer than the 3 bytes held back at most, so every
    // piece moves on.
    const std::uint32_t length = entry.nameLength;
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
        std::fwrite(printed.data(), 1, printed.size(), out);
        offset += static_cast<std::uint32_t>(text.size());
    }
    return 1;
}
