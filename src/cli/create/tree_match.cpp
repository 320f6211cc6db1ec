// See tree_match.h. Files are looked up by their name keys in one sorted
// array: no allocation per file, and a tree of any size stays within a few
// bytes per file beyond its names.
#include "cli/create/tree_match.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "cli/main/end_run.h"
#include "cli/main/held_elsewhere.h"
#include "cli/reader/reader.h"
#include "cli/reader/selection.h"
#include "cli/text/printable.h"
#include "lib/patterns/name_pattern.h"
#include "lib/text/paths.h"
#include "platform/platform.h"

namespace {

// Each side of a comparison reads this much at a time.
constexpr std::uint32_t COMPARE_CHUNK = 256 * 1024;

std::string_view key_of(const TreeMatch& match, std::uint32_t file) {
    return std::string_view(match.keys).substr(match.keyAt[file], match.files[file].name.size());
}

// Orders files by their keys, and finds a key among them.
struct KeyOrder {
    const TreeMatch* match;
    bool operator()(std::uint32_t a, std::uint32_t b) const { return key_of(*match, a) < key_of(*match, b); }
    bool operator()(std::uint32_t a, std::string_view b) const { return key_of(*match, a) < b; }
    bool operator()(std::string_view a, std::uint32_t b) const { return a < key_of(*match, b); }
};

// Entry `n` as messages show it: its number and its name.
std::string shown_entry(std::uint32_t n, const BigEntry& entry) {
    std::string shown;
    std::string_view quoted = quoted_name(entry.name, shown);
    return std::to_string(n) + " '" + std::string(quoted) + "'";
}

using FileRange = std::pair<std::vector<std::uint32_t>::const_iterator, std::vector<std::uint32_t>::const_iterator>;

// The files whose name is that of `entry`, as the game looks names up.
FileRange files_named(TreeMatch& match, const BigEntry& entry) {
    // A name longer than the window holds is longer than any path.
    if (!entry_name_is_whole(entry)) {
        return {match.byKey.cend(), match.byKey.cend()};
    }
    name_key(entry.name, &match.key, local_lead_bytes());
    const std::string_view key = match.key;
    return std::equal_range(match.byKey.cbegin(), match.byKey.cend(), key, KeyOrder{&match});
}

// The archive's bytes, read ahead: entries' data mostly follows on, and a
// read per small entry would cost more than comparing it.
struct ArchiveAhead {
    std::unique_ptr<std::uint8_t[]> buffers;  // a chunk of the file, then the archive's
    std::uint32_t at = 0;                     // where the archive's bytes held start
    std::uint32_t held = 0;
};
ArchiveAhead ahead;

// `count` bytes (at most a chunk) of the archive from `offset`, which lie
// inside it; null after printing why they could not be read.
const std::uint8_t* archive_bytes(std::uint32_t offset, std::uint32_t count) {
    std::uint8_t* theirs = ahead.buffers.get() + COMPARE_CHUNK;
    if (offset >= ahead.at && std::uint64_t{offset} + count <= std::uint64_t{ahead.at} + ahead.held) {
        return theirs + (offset - ahead.at);
    }
    BigHeader header;
    get_header(&header);
    std::uint32_t room = header.archiveSize > offset ? header.archiveSize - offset : 0;
    std::uint32_t want = room < COMPARE_CHUNK ? room : COMPARE_CHUNK;
    std::uint32_t got = 0;
    ahead.held = 0;
    if (want < count || !read_archive_data(offset, theirs, want, &got) || got < count) {
        std::printf("Error: Could not read from BIG file.\n");
        return nullptr;
    }
    ahead.at = offset;
    ahead.held = got;
    return theirs;
}

}  // namespace

int walk_for_match(const char* root, TreeMatch* match) {
    if (!index_tree(root)) {
        return 0;
    }
    match->root = root;
    match->files = walked_files();
    const auto count = static_cast<std::uint32_t>(match->files.size());
    match->keyAt.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        match->keyAt[i] = static_cast<std::uint32_t>(match->keys.size());
        name_key(match->files[i].name, &match->key, local_lead_bytes());
        match->keys += match->key;
    }
    match->byKey.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        match->byKey[i] = i;
    }
    // Stable: files with one key stay in walk order, for the message.
    std::stable_sort(match->byKey.begin(), match->byKey.end(), KeyOrder{match});
    match->entryOf.assign(count, NO_MATCH);
    return 1;
}

void match_entries(TreeMatch& match, std::uint32_t count) {
    std::string shown_a;
    std::string shown_b;
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        auto [first, last] = files_named(match, entry);
        if (last - first > 1) {
            std::printf("Error: Entry %s matches both '%s' and '%s'.\n", shown_entry(n, entry).c_str(),
                        printable(file_path(match, first[0]).c_str(), shown_a),
                        printable(file_path(match, first[1]).c_str(), shown_b));
            end_run(2);
        }
        if (first == last) {
            match.fileOf.push_back(NO_MATCH);
            continue;
        }
        const std::uint32_t file = *first;
        if (match.entryOf[file] != NO_MATCH) {
            std::string second = shown_entry(n, entry);
            const std::uint32_t earlier = match.entryOf[file];
            std::optional<BigEntry> taken = find_entry(earlier);
            std::printf("Error: '%s' matches both entry %s and entry %s.\n",
                        printable(file_path(match, file).c_str(), shown_a),
                        taken ? shown_entry(earlier, *taken).c_str() : std::to_string(earlier).c_str(),
                        second.c_str());
            end_run(2);
        }
        match.entryOf[file] = n;
        match.fileOf.push_back(file);
        if (match.files[file].size == entry_data_size(entry) && entry_data_inside(entry) &&
            entry_data_size(entry) <= READ_AHEAD_LIMIT) {
            match.readable.push_back(n);
            match.readableAt.push_back(entry_data_offset(entry));
        }
    }
}

std::uint32_t file_for_entry(const TreeMatch& match, std::uint32_t n) {
    return n < match.fileOf.size() ? match.fileOf[n] : NO_MATCH;
}

std::string file_path(const TreeMatch& match, std::uint32_t file) {
    const char separator[2] = {path_separator(local_path_style()), '\0'};
    return std::string(match.root) + separator + match.files[file].path;
}

bool entry_data_readable(std::uint32_t n, const BigEntry& entry) {
    if (entry_data_inside(entry)) {
        return true;
    }
    std::string shown;
    std::string_view quoted = quoted_name(entry.name, shown);
    std::printf("Error: Entry %lu '%.*s': its data cannot be read.\n", static_cast<unsigned long>(n),
                static_cast<int>(quoted.size()), quoted.data());
    return false;
}

ReadAhead::Source readable_files(const TreeMatch& match) {
    return [&match, at = std::size_t{0}](std::uint32_t* key, std::string* path, std::uint32_t* size,
                                         std::uint64_t* offset) mutable {
        if (at == match.readable.size()) {
            return false;
        }
        *offset = match.readableAt[at];
        *key = match.readable[at++];
        const std::uint32_t file = match.fileOf[*key];
        *path = file_path(match, file);
        *size = match.files[file].size;
        return true;
    };
}

FileHandle archive_for_workers(const WorkPool& pool) {
    return pool.workers() > 0 ? file_open_again(archive_file()) : INVALID_FILE;
}

namespace {

// A file read ahead, held against the archive's bytes as same_bytes would
// read and hold it: in one read, one byte more than the entry holds.
Sameness same_as_read(const char* path, const AheadFile& read, const std::uint8_t* ours,
                      const BigEntry& entry) {
    std::string shown;
    if (!file_take_open(read.outcome)) {
        std::printf("Error: Could not open '%s'.\n", printable(path, shown));
        say_if_held_elsewhere(path);
        return Sameness::failed;
    }
    std::uint32_t got = 0;
    if (!file_take_read(read.outcome, &got)) {
        std::printf("Error: Could not read file.\n");
        return Sameness::failed;
    }
    const std::uint32_t size = entry_data_size(entry);
    if (got != size) {
        return Sameness::different;
    }
    if (size > 0 && read.match != AheadMatch::not_compared) {
        if (!file_take_archive_read()) {
            std::printf("Error: Could not read from BIG file.\n");
            return Sameness::failed;
        }
        return read.match == AheadMatch::same ? Sameness::same : Sameness::different;
    }
    const std::uint8_t* theirs = size > 0 ? archive_bytes(entry_data_offset(entry), size) : ours;
    if (theirs == nullptr) {
        return Sameness::failed;
    }
    return std::memcmp(ours, theirs, size) == 0 ? Sameness::same : Sameness::different;
}

}  // namespace

Sameness same_bytes(const TreeMatch& match, std::uint32_t file, std::uint32_t n, const BigEntry& entry,
                    ReadAhead* ahead_files) {
    const std::uint32_t size = entry_data_size(entry);
    if (match.files[file].size != size) {
        return Sameness::different;
    }
    if (!ahead.buffers) {
        ahead.buffers.reset(new (std::nothrow) std::uint8_t[2 * COMPARE_CHUNK]);
        if (!ahead.buffers) {
            std::printf("Error: Failed to allocate enough memory.\n");
            return Sameness::failed;
        }
    }
    if (const AheadFile* read = ahead_files != nullptr ? ahead_files->take(n) : nullptr) {
        return same_as_read(ahead_files->path_of(*read), *read, ahead_files->bytes_of(*read), entry);
    }
    std::string shown;
    std::string path = file_path(match, file);
    // Opened as listed: only read, so no look at the file is needed first.
    FileHandle handle = file_open_listed(path.c_str(), size);
    if (handle == INVALID_FILE) {
        std::printf("Error: Could not open '%s'.\n", printable(path.c_str(), shown));
        say_if_held_elsewhere(path.c_str());
        return Sameness::failed;
    }
    std::uint8_t* ours = ahead.buffers.get();
    Sameness result = Sameness::same;
    std::uint32_t offset = entry_data_offset(entry);
    // One byte more than the entry holds: a file that grew shows it.
    for (std::uint64_t left = std::uint64_t{size} + 1; left > 0 && result == Sameness::same;) {
        auto want = static_cast<std::uint32_t>(left < COMPARE_CHUNK ? left : COMPARE_CHUNK);
        std::uint32_t got = 0;
        if (!file_read(handle, ours, want, &got)) {
            std::printf("Error: Could not read file.\n");
            result = Sameness::failed;
            break;
        }
        std::uint32_t stored = left == want ? want - 1 : want;
        if (got != stored) {
            result = Sameness::different;
            break;
        }
        const std::uint8_t* theirs = stored > 0 ? archive_bytes(offset, stored) : ours;
        if (theirs == nullptr) {
            result = Sameness::failed;
        } else if (std::memcmp(ours, theirs, stored) != 0) {
            result = Sameness::different;
        }
        offset += stored;
        left -= want;
    }
    file_close(handle);
    return result;
}
