// See selection.h.
#include "archive/selection.h"

#include <cstdio>
#include <memory>
#include <new>

#include "archive/reader.h"
#include "common/end_run.h"
#include "common/name_pattern.h"
#include "common/printable.h"
#include "platform/platform.h"

namespace {

// A list file's text, or false after printing why. The patterns are held
// anyway; the file costs no more than they do.
bool read_list_file(const char* path, std::string* text) {
    std::string shown;
    FileHandle file = file_open(path, OpenMode::read_existing);
    std::uint64_t size = 0;
    bool read = file != INVALID_FILE && file_size(file, &size) && size < UINT32_MAX;
    if (read) {
        text->resize(static_cast<std::size_t>(size));
        std::uint32_t got = 0;
        read = size == 0 || (file_read(file, text->data(), static_cast<std::uint32_t>(size), &got) &&
                             got == size);
    }
    if (file != INVALID_FILE) {
        file_close(file);
    }
    if (!read) {
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
    for (std::uint32_t p = 0; p < selection->patterns.size(); ++p) {
        const std::string& pattern = selection->patterns[p];
        if (has_wildcard(pattern)) {
            selection->wildcards.push_back(p);
        } else {
            name_key(pattern, &selection->key);
            selection->exact[selection->key].push_back(p);
        }
    }
    return 1;
}

bool selects(Selection& selection, const BigEntry& entry) {
    if (selection.patterns.empty()) {
        return true;
    }
    bool selected = false;
    bool whole = entry_name_is_whole(entry);
    if (whole && !selection.exact.empty()) {
        name_key(entry.name, &selection.key);
        auto found = selection.exact.find(selection.key);
        if (found != selection.exact.end()) {
            for (std::uint32_t p : found->second) {
                selection.matched[p] = true;
            }
            selected = true;
        }
    }
    for (std::uint32_t p : selection.wildcards) {
        const std::string& pattern = selection.patterns[p];
        if (whole ? name_matches(pattern, entry.name) : only_stars(pattern)) {
            selection.matched[p] = true;
            selected = true;
        }
    }
    return selected;
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
