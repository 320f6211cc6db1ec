// See check_archive.h.
#include "lib/checks/check_archive.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "lib/checks/check_steps.h"
#include "lib/patterns/name_pattern.h"
#include "lib/text/entry_name.h"
#include "lib/text/limits.h"

namespace {

// One check: where it reads, by which rules, and who is told.
struct Run {
    const BigHeader& header;
    CheckSource& source;
    const CheckRules& rules;
    FindingObserver& observer;
    bool stopped = false;  // the observer said so: nothing more is told
};

void report(Run& run, FindingKind kind, bool error, std::uint32_t n, std::uint32_t other, std::string_view name,
            std::string_view what) {
    if (!run.stopped && !run.observer.found({kind, error, n, other, name, what})) {
        run.stopped = true;
    }
}

// A finding of a step after the walk, the entry's name read again.
CheckEnd report_again(Run& run, FindingKind kind, bool error, const EntryRecord& record, std::uint32_t other,
                      std::string_view what) {
    BigEntry entry;
    if (entry_again(run.source, record, &entry) != SourceRead::found) {
        return CheckEnd::read_failed;
    }
    report(run, kind, error, record.number, other, entry.name, what);
    return CheckEnd::done;
}

PathStyle other_style(PathStyle here) {
    return here == PathStyle::posix ? PathStyle::windows : PathStyle::posix;
}

// Whether extraction here would write the name: only such names are
// compared with the others.
bool is_compared(const BigEntry& entry, const CheckRules& rules) {
    return entry.nameLength != 0 && entry_name_is_whole(entry) && entry.nameLength < PATH_CAPACITY &&
           is_safe_entry_name(entry.name, rules.here, *rules.lead, rules.inCodePage(entry.name));
}

// What extraction would do with the name, here and on the other system. A
// name judged here is compared with the others: its hash, or none.
std::uint64_t judge_name(Run& run, std::uint32_t n, const BigEntry& entry, std::string& scratch) {
    const CheckRules& rules = run.rules;
    const PathStyle there = other_style(rules.here);
    const std::string_view name = entry.name;
    const bool whole = entry_name_is_whole(entry);
    if (entry.nameLength == 0) {
        report(run, FindingKind::empty_name, true, n, NO_ENTRY, name, "its name is empty.");
    } else if (whole ? !is_safe_entry_name(name, rules.here, *rules.lead, rules.inCodePage(name))
                     : !is_safe_entry_name_start(name, rules.here, *rules.lead)) {
        report(run, FindingKind::unsafe_name, true, n, NO_ENTRY, name, "its name is unsafe to extract.");
    } else if (entry.nameLength >= PATH_CAPACITY) {
        report(run, FindingKind::name_too_long, true, n, NO_ENTRY, name, "its name is too long to extract.");
    } else {
        if (!is_safe_entry_name(name, there)) {
            report(run, FindingKind::refused_elsewhere, false, n, NO_ENTRY, name,
                   there == PathStyle::windows ? "its name would be refused on Windows."
                                               : "its name would be refused on Linux.");
        }
        return name_hash(name, rules, scratch);
    }
    return NO_NAME_HASH;
}

// Where the entry's data lies; a range to read only when it lies inside.
DataRange judge_range(Run& run, std::uint32_t n, const BigEntry& entry) {
    const std::uint32_t offset = entry_data_offset(entry);
    const std::uint32_t size = entry_data_size(entry);
    if (size == 0) {
        return {0, 0};
    }
    const bool inside = std::uint64_t{offset} + size <= run.header.archiveSize;
    if (!inside) {
        report(run, FindingKind::data_past_end, true, n, NO_ENTRY, entry.name,
               "its data runs past the end of the file.");
    }
    if (offset < run.header.startOffset) {
        report(run, FindingKind::data_over_index, true, n, NO_ENTRY, entry.name,
               "its data overlaps the header or the index.");
    }
    return inside ? DataRange{offset, size} : DataRange{0, 0};
}

struct Walk {
    std::uint32_t met = 0;       // entries the index holds
    std::uint64_t indexEnd = 0;  // where the last of them ends in the index
    bool folders = false;        // a name that is compared holds a separator
};

CheckEnd walk_index(Run& run, EntryRecords& records, Walk& walk) {
    std::string scratch;
    const auto count = static_cast<std::uint32_t>(run.header.fileCount);
    for (std::uint32_t n = 0; n < count && !run.stopped; ++n) {
        BigEntry entry;
        std::uint32_t place = 0;
        switch (run.source.entry(n, &entry, &place)) {
        case SourceRead::found: break;
        case SourceRead::ended: return CheckEnd::done;
        case SourceRead::failed: return CheckEnd::read_failed;
        }
        EntryRecord record{judge_name(run, n, entry, scratch), n, place, {}};
        walk.folders = walk.folders || (record.nameHash != NO_NAME_HASH &&
                                        entry.name.find_first_of("\\/") != std::string_view::npos);
        record.facts.range = judge_range(run, n, entry);
        if (!add_record(records, record)) {
            return CheckEnd::no_memory;
        }
        walk.met = n + 1;
        walk.indexEnd = std::uint64_t{place} + ENTRY_FIXED_SIZE + entry.nameLength;
    }
    return CheckEnd::done;
}

// The tool reads on without an end record, and other tools may write
// another: a warning when it is not "L225" and four zero bytes, right after
// the last entry and inside the index that startOffset bounds.
CheckEnd judge_end_record(Run& run, const Walk& walk) {
    std::array<std::uint8_t, END_RECORD_SIZE> bytes{};
    std::uint32_t got = 0;
    const std::uint64_t at = HEADER_SIZE + walk.indexEnd;
    const bool room = at + END_RECORD_SIZE <= run.header.startOffset;
    if (room && !run.source.read(static_cast<std::uint32_t>(at), bytes.data(), END_RECORD_SIZE, &got)) {
        return CheckEnd::read_failed;
    }
    const bool ours = room && got == END_RECORD_SIZE &&
                      std::equal(END_TAG.begin(), END_TAG.end(), bytes.begin()) &&
                      std::all_of(bytes.begin() + END_TAG.size(), bytes.end(),
                                  [](std::uint8_t b) { return b == 0; });
    if (!ours) {
        report(run, FindingKind::end_record, false, NO_ENTRY, NO_ENTRY, {},
               "The end record is not the one this tool writes.");
    }
    return CheckEnd::done;
}

bool by_number(const EntryRecord& a, const EntryRecord& b) {
    return a.number < b.number;
}

// The data step's findings: the unreadable entries, then the overlapping
// ones, each in entry order.
CheckEnd report_data(Run& run, EntryRecords& records) {
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    if (std::none_of(begin, end, [](const EntryRecord& r) {
            return r.facts.found.unreadable != 0 || r.facts.found.overlapped != NO_ENTRY;
        })) {
        return CheckEnd::done;
    }
    std::sort(begin, end, by_number);
    for (RecordIterator it = begin; it != end && !run.stopped; ++it) {
        if (it->facts.found.unreadable != 0 &&
            report_again(run, FindingKind::data_unreadable, true, *it, NO_ENTRY, "its data cannot be read.") !=
                CheckEnd::done) {
            return CheckEnd::read_failed;
        }
    }
    char what[96];
    for (RecordIterator it = begin; it != end && !run.stopped; ++it) {
        const std::uint32_t other = it->facts.found.overlapped;
        if (other == NO_ENTRY) {
            continue;
        }
        std::snprintf(what, sizeof what, "its data overlaps that of entry %lu.", static_cast<unsigned long>(other));
        if (report_again(run, FindingKind::data_overlap, false, *it, other, what) != CheckEnd::done) {
            return CheckEnd::read_failed;
        }
    }
    return CheckEnd::done;
}

// The name step's findings in entry order: a name spelt like an earlier
// one, or equal to one but for letter case.
CheckEnd report_names(Run& run, EntryRecords& records) {
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    auto alone = [](const EntryRecord& r) {
        return r.facts.same.sameName == r.number && r.facts.same.sameKey == r.number;
    };
    if (std::all_of(begin, end, alone)) {
        return CheckEnd::done;
    }
    std::sort(begin, end, by_number);
    char what[128];
    for (RecordIterator it = begin; it != end && !run.stopped; ++it) {
        const SameNames same = it->facts.same;
        CheckEnd told = CheckEnd::done;
        if (same.sameName != it->number) {
            std::snprintf(what, sizeof what, "entry %lu has the same name; extracting both would lose one.",
                          static_cast<unsigned long>(same.sameName));
            told = report_again(run, FindingKind::same_name, true, *it, same.sameName, what);
        } else if (same.sameKey != it->number) {
            std::snprintf(what, sizeof what,
                          "entry %lu differs only in letter case; Windows extracts both into one file.",
                          static_cast<unsigned long>(same.sameKey));
            told = report_again(run, FindingKind::same_but_case, false, *it, same.sameKey, what);
        }
        if (told != CheckEnd::done) {
            return told;
        }
    }
    return CheckEnd::done;
}

// Entry n's name, read again in a later walk.
bool entry_in_walk(Run& run, std::uint32_t n, BigEntry* entry) {
    return run.source.entry(n, entry, nullptr) == SourceRead::found;
}

// Each entry, in entry order, that needs a folder where another entry is a
// file, which extraction cannot write both of: an error, or a warning when
// the two differ in letter case alone.
CheckEnd report_folders(Run& run, EntryRecords& records, const Walk& walk) {
    if (!walk.folders) {
        return CheckEnd::done;
    }
    order_by_hash(records);
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    FolderSearch search;
    std::string storage;
    for (std::uint32_t n = 0; n < walk.met && !run.stopped; ++n) {
        BigEntry entry;
        if (!entry_in_walk(run, n, &entry)) {
            return CheckEnd::read_failed;
        }
        if (!is_compared(entry, run.rules)) {
            continue;
        }
        const std::string name(entry.name);
        FolderFinding found;
        if (file_in_the_way(begin, end, name, run.source, run.rules, search, &found) != CheckEnd::done) {
            return CheckEnd::read_failed;
        }
        if (found.file == NO_ENTRY) {
            continue;
        }
        std::string_view other = run.rules.quote(search.found, storage);
        std::string what = "it needs a folder where entry " + std::to_string(found.file) + " '";
        what.append(other);
        what.append(found.exact ? "' is a file; extraction cannot write both."
                                : "' is a file, but for letter case; Windows cannot extract both.");
        report(run, found.exact ? FindingKind::folder_is_file : FindingKind::folder_is_file_but_case, found.exact,
               n, found.file, name, what);
    }
    return CheckEnd::done;
}

// In a double-byte code page the game, which folds names byte by byte,
// takes a second byte for a letter: 右 (89 45) and 影 (89 65) are one name
// to it. Warns, in entry order, of each name it reads as an earlier one
// that is another name by character. Only names whose two keys differ
// can be such a pair, so a first walk finds their keys' hashes, mostly
// none, and 8 bytes are held for each.
CheckEnd report_game_names(Run& run, const Walk& walk) {
    const LeadBytes& lead = *run.rules.lead;
    if (std::none_of(lead.begin(), lead.end(), [](bool b) { return b; })) {
        return CheckEnd::done;
    }
    std::string game;
    std::string own;
    const std::hash<std::string> hash;
    std::vector<std::uint64_t> keys;  // of the game's keys that two names may share
    BigEntry entry;
    for (std::uint32_t n = 0; n < walk.met; ++n) {
        if (!entry_in_walk(run, n, &entry)) {
            return CheckEnd::read_failed;
        }
        if (is_compared(entry, run.rules)) {
            name_key(entry.name, &game);
            name_key(entry.name, &own, lead);
            if (game != own) {
                keys.push_back(hash(game));
            }
        }
    }
    if (keys.empty()) {
        return CheckEnd::done;
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    struct First {
        std::uint32_t number = NO_ENTRY;  // the first entry under the key
        std::uint64_t own = 0;            // its own key's hash
    };
    std::vector<First> firsts(keys.size());
    for (std::uint32_t n = 0; n < walk.met && !run.stopped; ++n) {
        if (!entry_in_walk(run, n, &entry)) {
            return CheckEnd::read_failed;
        }
        if (!is_compared(entry, run.rules)) {
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
        BigEntry earlier;
        if (!entry_in_walk(run, first.number, &earlier)) {
            return CheckEnd::read_failed;
        }
        name_key(earlier.name, &game);
        if (game == game_key) {
            std::string storage;
            std::string what = "entry " + std::to_string(first.number) + " '";
            what.append(run.rules.quote(earlier.name, storage));
            what.append("' is another name, but the game, which folds letters byte by byte, reads both as one.");
            report(run, FindingKind::game_reads_as_one, false, n, first.number, name, what);
        }
    }
    return CheckEnd::done;
}

}  // namespace

CheckEnd check_archive(const BigHeader& header, CheckSource& source, const CheckRules& rules,
                       FindingObserver& observer) {
    Run run{header, source, rules, observer};
    EntryRecords records;
    Walk walk;
    CheckEnd end = walk_index(run, records, walk);
    if (end != CheckEnd::done || run.stopped) {
        return end == CheckEnd::done ? CheckEnd::stopped : end;
    }
    if (walk.met < static_cast<std::uint32_t>(header.fileCount)) {
        char what[96];
        std::snprintf(what, sizeof what, "The index holds %lu of the header's %i entries.",
                      static_cast<unsigned long>(walk.met), header.fileCount);
        report(run, FindingKind::index_short, true, NO_ENTRY, NO_ENTRY, {}, what);
    } else if ((end = judge_end_record(run, walk)) != CheckEnd::done) {
        return end;
    }
    // Each step runs only while the observer listens.
    auto step = [&](auto&& next) {
        if (end == CheckEnd::done && !run.stopped) {
            end = next();
        }
    };
    step([&] { return read_entry_data(records, header.archiveSize, source); });
    step([&] { return report_data(run, records); });
    step([&] { return compare_names(records, source, rules); });
    step([&] { return report_names(run, records); });
    step([&] { return report_folders(run, records, walk); });
    step([&] { return report_game_names(run, walk); });
    return end == CheckEnd::done && run.stopped ? CheckEnd::stopped : end;
}
