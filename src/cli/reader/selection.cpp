// See selection.h.
#include "cli/reader/selection.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "cli/main/end_run.h"
#include "cli/reader/reader.h"
#include "cli/text/printable.h"
#include "lib/patterns/name_pattern.h"
#include "platform/platform.h"

namespace {

// A list file's text, or false after printing why. A pipe, a FIFO or a
// file of /proc tells no size, so every list is read to its end; it must be
// shorter than 4 GiB, as a file's size is counted. The patterns are held
// anyway; the file costs no more than they do.
bool read_list_file(const char* path, std::string* text) {
    constexpr std::uint32_t PIECE = 65536;
    FileHandle file = file_open_stream(path);
    bool read = file != INVALID_FILE;
    for (std::uint32_t got = PIECE; read && got > 0;) {
        std::size_t have = text->size();
        read = have < UINT32_MAX;
        if (read) {
            auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(PIECE, UINT32_MAX - have));
            text->resize(have + want);
            read = file_read(file, text->data() + have, want, &got);
            text->resize(have + (read ? got : 0));
        }
    }
    if (file != INVALID_FILE) {
        file_close(file);
    }
    if (!read) {
        std::string shown;
        std::printf("Error: Could not read the list file '%s'.\n", printable(path, shown));
    }
    return read;
}

bool only_stars(const std::string& pattern) {
    return pattern.find_first_not_of('*') == std::string::npos;
}

}  // namespace

int read_list_lines(const char* path, std::vector<std::string>* lines) {
    std::string text;
    if (!read_list_file(path, &text)) {
        return 0;
    }
    *lines = pattern_lines(text);
    return 1;
}

int read_selection(char** args, int count, Selection* selection) {
    for (int a = 0; a < count; ++a) {
        if (args[a][0] != '@') {
            selection->patterns.emplace_back(args[a]);
            continue;
        }
        std::vector<std::string> lines;
        if (!read_list_lines(args[a] + 1, &lines)) {
            return 0;
        }
        if (lines.empty()) {
            std::string shown;
            std::printf("Error: The list file '%s' holds no pattern.\n", printable(args[a] + 1, shown));
            return 0;
        }
        for (std::string& line : lines) {
            selection->patterns.push_back(std::move(line));
        }
    }
    selection->matched.assign(selection->patterns.size(), false);
    pattern_set_build(selection->set, selection->patterns, local_lead_bytes());
    return 1;
}

bool selects(Selection& selection, const BigEntry& entry) {
    if (selection.patterns.empty()) {
        return true;
    }
    bool selected = false;
    if (entry_name_is_whole(entry)) {
        pattern_set_match(selection.set, entry.name, [&](std::uint32_t p) {
            selection.matched[p] = true;
            selected = true;
        });
        return selected;
    }
    for (std::uint32_t p = 0; p < selection.patterns.size(); ++p) {
        if (only_stars(selection.patterns[p])) {
            selection.matched[p] = true;
            selected = true;
        }
    }
    return selected;
}

bool selects_first(Selection& selection, std::uint32_t n, const BigEntry& entry) {
    bool selected = selects(selection, entry);
    if (!selection.patterns.empty()) {
        if (n == selection.chosen.size()) {
            selection.chosen.push_back(selected);  // entries come in order: no resize each
        } else {
            selection.chosen.resize(n + 1);
            selection.chosen[n] = selected;
        }
    }
    return selected;
}

bool was_selected(const Selection& selection, std::uint32_t n) {
    return selection.patterns.empty() || (n < selection.chosen.size() && selection.chosen[n]);
}

BigEntry walked_entry(std::uint32_t n) {
    std::optional<BigEntry> entry = find_entry(n);
    if (!entry) {
        if (!entry_lookup_failed()) {
            std::printf("Error: Header file count mismatch.\n");
        }
        end_run(2);
    }
    return *entry;
}

int report_unmatched(const Selection& selection) {
    int unmatched = 0;
    std::string shown;
    for (std::size_t p = 0; p < selection.patterns.size(); ++p) {
        if (!selection.matched[p]) {
            std::string_view quoted = quoted_name(selection.patterns[p], shown);
            std::printf("Error: No entry matches '%.*s'.\n", static_cast<int>(quoted.size()), quoted.data());
            ++unmatched;
        }
    }
    return unmatched;
}
