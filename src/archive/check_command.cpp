// The CHECK command: one walk of the index judges each entry's name and
// range as it meets it and keeps a record of the entry; then the data is
// read (check_data.cpp) and the names compared (check_names.cpp), and
// their findings are printed in entry order; a last walk finds the entries
// that need a folder where another entry is a file.
#include "archive/check_command.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "archive/check_steps.h"
#include "archive/reader.h"
#include "common/end_run.h"
#include "common/entry_name.h"
#include "common/limits.h"
#include "common/name_pattern.h"
#include "common/printable.h"
#include "platform/platform.h"

namespace {

std::uint64_t problems = 0;

// One finding about entry `number`; `what` ends with its full stop.
void report(bool problem, std::uint32_t number, std::string_view name, const char* what) {
    std::string storage;
    std::string_view quoted = quoted_name(name, storage);
    std::printf("%s: Entry %lu '%.*s': %s\n", problem ? "Error" : "Warning",
                static_cast<unsigned long>(number), static_cast<int>(quoted.size()), quoted.data(),
                what);
    problems += problem ? 1 : 0;
}

// A finding of a step after the walk, the entry's name read again.
void report_again(bool problem, const EntryRecord& record, const char* what) {
    std::optional<BigEntry> entry = entry_again(record);
    if (!entry) {
        end_run(2);
    }
    report(problem, record.number, entry->name, what);
}

// What extraction would do with the name, here and on the other system. A
// name judged here is compared with the others: its hash, or none.
std::uint64_t judge_name(std::uint32_t n, const BigEntry& entry, std::string& scratch) {
    const PathStyle here = local_path_style();
    const PathStyle there = here == PathStyle::posix ? PathStyle::windows : PathStyle::posix;
    const std::string_view name = entry.name;
    const bool whole = entry_name_is_whole(entry);
    if (entry.nameLength == 0) {
        report(true, n, name, "its name is empty.");
    } else if (whole ? !is_safe_entry_name(name, here, local_lead_bytes(), name_in_code_page(name))
                     : !is_safe_entry_name_start(name, here, local_lead_bytes())) {
        report(true, n, name, "its name is unsafe to extract.");
    } else if (entry.nameLength >= PATH_CAPACITY) {
        report(true, n, name, "its name is too long to extract.");
    } else {
        if (!is_safe_entry_name(name, there)) {
            report(false, n, name,
                   there == PathStyle::windows ? "its name would be refused on Windows."
                                               : "its name would be refused on Linux.");
        }
        return name_hash(name, scratch);
    }
    return NO_NAME_HASH;
}

// Where the entry's data lies; a range to read only when it lies inside.
DataRange judge_range(std::uint32_t n, const BigEntry& entry, const BigHeader& header) {
    const std::uint32_t offset = entry_data_offset(entry);
    const std::uint32_t size = entry_data_size(entry);
    if (size == 0) {
        return {0, 0};
    }
    const bool inside = entry_data_inside(entry);
    if (!inside) {
        report(true, n, entry.name, "its data runs past the end of the file.");
    }
    if (offset < header.startOffset) {
        report(true, n, entry.name, "its data overlaps the header or the index.");
    }
    return inside ? DataRange{offset, size} : DataRange{0, 0};
}

struct Walk {
    std::uint32_t met = 0;       // entries the index holds
    std::uint64_t indexEnd = 0;  // where the last of them ends in the index
    bool folders = false;        // a name that is compared holds a separator
};

// Whether judge_name compares the name with the others: extraction would
// write it.
bool is_compared(const BigEntry& entry) {
    return entry.nameLength != 0 && entry_name_is_whole(entry) && entry.nameLength < PATH_CAPACITY &&
           is_safe_entry_name(entry.name, local_path_style(), local_lead_bytes(),
                              name_in_code_page(entry.name));
}

Walk walk_index(const BigHeader& header, EntryRecords& records) {
    Walk walk;
    std::string scratch;
    const auto count = static_cast<std::uint32_t>(header.fileCount);
    for (std::uint32_t n = 0; n < count; ++n) {
        std::optional<EntryPlace> place = find_entry_place(n);
        // The reader is on the entry now: this takes no second walk.
        std::optional<BigEntry> entry = place ? find_entry(n) : std::nullopt;
        if (!entry) {
            if (entry_lookup_failed()) {
                end_run(2);
            }
            break;
        }
        EntryRecord record{judge_name(n, *entry, scratch), n, place->at, {}};
        walk.folders = walk.folders || (record.nameHash != NO_NAME_HASH &&
                                        entry->name.find_first_of("\\/") != std::string_view::npos);
        record.facts.range = judge_range(n, *entry, header);
        if (!add_record(records, record)) {
            std::printf("Error: Failed to allocate enough memory.\n");
            end_run(2);
        }
        walk.met = n + 1;
        walk.indexEnd = std::uint64_t{place->at} + ENTRY_FIXED_SIZE + entry->nameLength;
    }
    return walk;
}

// The tool reads on without an end record, and other tools may write
// another: a warning when it is not "L225" and four zero bytes, right after
// the last entry and inside the index that startOffset bounds.
void judge_end_record(const Walk& walk, const BigHeader& header) {
    std::array<std::uint8_t, END_RECORD_SIZE> bytes{};
    std::uint32_t got = 0;
    const std::uint64_t at = HEADER_SIZE + walk.indexEnd;
    const bool room = at + END_RECORD_SIZE <= header.startOffset;
    if (room &&
        !read_archive_data(static_cast<std::uint32_t>(at), bytes.data(), END_RECORD_SIZE, &got)) {
        std::printf("Error: Could not read file.\n");
        end_run(2);
    }
    const bool ours = room && got == END_RECORD_SIZE &&
                      std::equal(END_TAG.begin(), END_TAG.end(), bytes.begin()) &&
                      std::all_of(bytes.begin() + END_TAG.size(), bytes.end(),
                                  [](std::uint8_t b) { return b == 0; });
    if (!ours) {
        std::printf("Warning: The end record is not the one this tool writes.\n");
    }
}

bool by_number(const EntryRecord& a, const EntryRecord& b) {
    return a.number < b.number;
}

// Prints the data step's findings: the unreadable entries, then the
// overlapping ones, each in entry order.
void report_data(EntryRecords& records) {
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    if (std::none_of(begin, end, [](const EntryRecord& r) {
            return r.facts.found.unreadable != 0 || r.facts.found.overlapped != NO_ENTRY;
        })) {
        return;
    }
    std::sort(begin, end, by_number);
    for (RecordIterator it = begin; it != end; ++it) {
        if (it->facts.found.unreadable != 0) {
            report_again(true, *it, "its data cannot be read.");
        }
    }
    char what[96];
    for (RecordIterator it = begin; it != end; ++it) {
        if (it->facts.found.overlapped != NO_ENTRY) {
            std::snprintf(what, sizeof what, "its data overlaps that of entry %lu.",
                          static_cast<unsigned long>(it->facts.found.overlapped));
            report_again(false, *it, what);
        }
    }
}

// Prints the name step's findings in entry order: a name spelt like an
// earlier one, or equal to one but for letter case.
void report_names(EntryRecords& records) {
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    auto alone = [](const EntryRecord& r) {
        return r.facts.same.sameName == r.number && r.facts.same.sameKey == r.number;
    };
    if (std::all_of(begin, end, alone)) {
        return;
    }
    std::sort(begin, end, by_number);
    char what[128];
    for (RecordIterator it = begin; it != end; ++it) {
        const SameNames same = it->facts.same;
        if (same.sameName != it->number) {
            std::snprintf(what, sizeof what,
                          "entry %lu has the same name; extracting both would lose one.",
                          static_cast<unsigned long>(same.sameName));
            report_again(true, *it, what);
        } else if (same.sameKey != it->number) {
            std::snprintf(what, sizeof what,
                          "entry %lu differs only in letter case; Windows extracts both into one file.",
                          static_cast<unsigned long>(same.sameKey));
            report_again(false, *it, what);
        }
    }
}

// The entry's name, read again in a later walk; ends the run when the
// index cannot be read.
BigEntry entry_in_walk(std::uint32_t n) {
    std::optional<BigEntry> entry = find_entry(n);
    if (!entry) {
        if (!entry_lookup_failed()) {
            std::printf("Error: Could not read file.\n");
        }
        end_run(2);
    }
    return *entry;
}

// Prints, in entry order, each entry that needs a folder where another
// entry is a file, which extraction cannot write both of: an error, or a
// warning when the two differ in letter case alone.
void report_folders(EntryRecords& records, const Walk& walk) {
    if (!walk.folders) {
        return;
    }
    order_by_hash(records);
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    FolderSearch search;
    std::string storage;
    for (std::uint32_t n = 0; n < walk.met; ++n) {
        const BigEntry entry = entry_in_walk(n);
        if (!is_compared(entry)) {
            continue;
        }
        const std::string name(entry.name);
        FolderFinding found;
        if (!file_in_the_way(begin, end, name, search, &found)) {
            end_run(2);
        }
        if (found.file == NO_ENTRY) {
            continue;
        }
        std::string_view other = quoted_name(search.found, storage);
        std::string what = "it needs a folder where entry " + std::to_string(found.file) + " '" +
                           std::string(other) + "' is a file" +
                           (found.exact ? "; extraction cannot write both."
                                        : ", but for letter case; Windows cannot extract both.");
        report(found.exact, n, name, what.c_str());
    }
}

// In a double-byte code page the game, which folds names byte by byte,
// takes a second byte for a letter: 右 (89 45) and 影 (89 65) are one name
// to it. Warns, in entry order, of each name it reads as an earlier one
// that is another name by character. Only names whose two keys differ
// can be such a pair, so a first walk finds their keys' hashes, mostly
// none, and 8 bytes are held for each.
void report_game_names(const Walk& walk) {
    const LeadBytes& lead = local_lead_bytes();
    if (std::none_of(lead.begin(), lead.end(), [](bool b) { return b; })) {
        return;
    }
    std::string game;
    std::string own;
    const std::hash<std::string> hash;
    std::vector<std::uint64_t> keys;  // of the game's keys that two names may share
    for (std::uint32_t n = 0; n < walk.met; ++n) {
        const BigEntry entry = entry_in_walk(n);
        if (is_compared(entry)) {
            name_key(entry.name, &game);
            name_key(entry.name, &own, lead);
            if (game != own) {
                keys.push_back(hash(game));
            }
        }
    }
    if (keys.empty()) {
        return;
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    struct First {
        std::uint32_t number = NO_ENTRY;  // the first entry under the key
        std::uint64_t own = 0;            // its own key's hash
    };
    std::vector<First> firsts(keys.size());
    for (std::uint32_t n = 0; n < walk.met; ++n) {
        const BigEntry entry = entry_in_walk(n);
        if (!is_compared(entry)) {
            continue;
        }
        name_key(entry.name, &game);
        auto at = std::lower_bound(keys.begin(), keys.end(), hash(game));
        if (at == keys.end() || *at != hash(game)) {
            continue;
        }
        name_key(entry.name, &own, lead);
        First& first = firsts[static_cast<std::size_t>(at - keys.begin())];
        if (first.number == NO_ENTRY) {
            first = {n, hash(own)};
            continue;
        }
        if (first.own == hash(own)) {
            continue;
        }
        // Confirmed from the earlier name, read again: hashes may meet.
        const std::string name(entry.name);
        const std::string game_key = game;
        const BigEntry earlier = entry_in_walk(first.number);
        name_key(earlier.name, &game);
        if (game == game_key) {
            std::string storage;
            std::string what = "entry " + std::to_string(first.number) + " '" +
                               std::string(quoted_name(earlier.name, storage)) +
                               "' is another name, but the game, which folds letters byte by byte, "
                               "reads both as one.";
            report(false, n, name, what.c_str());
        }
    }
}

}  // namespace

void check_command(int, char**, std::FILE*) {
    BigHeader header;
    get_header(&header);
    std::printf("Checking all files...\n\n");
    EntryRecords records;
    const Walk walk = walk_index(header, records);
    if (walk.met < static_cast<std::uint32_t>(header.fileCount)) {
        std::printf("Error: The index holds %lu of the header's %i entries.\n",
                    static_cast<unsigned long>(walk.met), header.fileCount);
        ++problems;
    } else {
        judge_end_record(walk, header);
    }
    if (!read_entry_data(records, header.archiveSize)) {
        end_run(2);
    }
    report_data(records);
    if (!compare_names(records)) {
        end_run(2);
    }
    report_names(records);
    report_folders(records, walk);
    report_game_names(walk);
    if (problems == 0) {
        close_archive();
        complete_run();
    }
    // More than INT_MAX problems would take gigabytes of lines to say.
    std::printf("Error: %i problem(s) found.\n",
                static_cast<int>(std::min<std::uint64_t>(problems, INT_MAX)));
    end_run(2);
}
