// CHECK's name steps: entries whose names would extract onto one file, and
// entries that need a folder where another entry is a file. Names are
// compared as extraction writes them, by hash, and confirmed by reading
// them again from the index, so that no name is held for the whole run.
#include <algorithm>
#include <cstring>

#include "lib/checks/check_steps.h"
#include "lib/text/ascii.h"
#include "lib/text/limits.h"

namespace {

// The hash holds the key's hash (spelling_key: the spelling, letter case
// aside) in its high bits and the spelling's in its low ones. Names with one key meet in one group, and names spelt alike in one
// run within it, so that a name with thousands of case variants is compared
// with its own spelling only, not with each of them.
constexpr int SPELLING_BITS = 24;
constexpr std::uint64_t SPELLING_MASK = (std::uint64_t{1} << SPELLING_BITS) - 1;

constexpr std::uint64_t FNV_START = 14695981039346656037ull;

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = FNV_START) {
    for (char c : bytes) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    }
    return hash;
}

std::uint64_t combined(std::uint64_t key_hash, std::uint64_t spelling_hash) {
    std::uint64_t hash = (key_hash & ~SPELLING_MASK) | (spelling_hash & SPELLING_MASK);
    return hash == NO_NAME_HASH ? NO_NAME_HASH + 1 : hash;
}

bool is_name_separator(char c) {
    return c == '\\' || c == '/';
}

// The name as extraction writes it: '/' and '\' one separator, and the
// empty and "." parts dropped, as the system drops them from a path
// ("sub\\a.txt" and "sub\.\a.txt" are "sub\a.txt"). Read by characters.
void spelling(std::string_view name, const CheckRules& rules, std::string* out) {
    const LeadBytes& lead = *rules.lead;
    out->clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size();) {
        if (i < name.size() && !is_name_separator(name[i])) {
            i += character_length(name, i, lead);
            continue;
        }
        std::string_view part = name.substr(start, i - start);
        if (!part.empty() && part != ".") {
            if (!out->empty()) {
                out->push_back('\\');
            }
            out->append(part);
        }
        start = ++i;
    }
}

// A spelling (or a part of one) with its letters folded as this system's
// file systems compare names: the ASCII letters, and on Windows those of
// the ANSI code page, each run of characters beyond ASCII at a time. Runs
// never hold a separator, so a folder's key is the start of its files'.
void spelling_key(std::string_view spelled, const CheckRules& rules, std::string* out) {
    const LeadBytes& lead = *rules.lead;
    std::string folded;
    out->clear();
    for (std::size_t i = 0; i < spelled.size();) {
        std::size_t run = i;
        while (run < spelled.size() &&
               (character_length(spelled, run, lead) > 1 || static_cast<unsigned char>(spelled[run]) >= 0x80)) {
            run += character_length(spelled, run, lead);
        }
        if (run == i) {
            out->push_back(ascii_upper(spelled[i++]));
            continue;
        }
        std::string_view text = spelled.substr(i, run - i);
        out->append(rules.foldCase(text, &folded) ? std::string_view(folded) : text);
        i = run;
    }
}

enum class NameForm { key, spelling };

// Where the names are read, and by which rules.
struct NameSource {
    CheckSource& source;
    const CheckRules& rules;
};

int name_in_form(const NameSource& names, const EntryRecord& record, NameForm form, std::string* out) {
    BigEntry entry;
    if (entry_again(names.source, record, &entry) != SourceRead::found) {
        return 0;
    }
    spelling(entry.name, names.rules, out);
    if (form == NameForm::key) {
        std::string spelled(*out);
        spelling_key(spelled, names.rules, out);
    }
    return 1;
}

// Gives each record of [begin, end) whose `mark` is NO_ENTRY the number of
// the first record, by number, whose name in `form` equals its own. Names
// that merely share a hash take a pass each; names equal, one pass in all.
int mark_equal_names(const NameSource& names, RecordIterator begin, RecordIterator end,
                     std::uint32_t SameNames::*mark, NameForm form) {
    std::string first_name;
    std::string name;
    for (;;) {
        RecordIterator first = end;
        for (RecordIterator it = begin; it != end; ++it) {
            if (it->facts.same.*mark == NO_ENTRY && (first == end || it->number < first->number)) {
                first = it;
            }
        }
        if (first == end) {
            return 1;
        }
        if (!name_in_form(names, *first, form, &first_name)) {
            return 0;
        }
        first->facts.same.*mark = first->number;
        for (RecordIterator it = begin; it != end; ++it) {
            if (it->facts.same.*mark != NO_ENTRY) {
                continue;
            }
            if (!name_in_form(names, *it, form, &name)) {
                return 0;
            }
            if (name == first_name) {
                it->facts.same.*mark = first->number;
            }
        }
    }
}

// The end of the run from `from` whose hashes agree under `mask`.
RecordIterator run_end(RecordIterator from, RecordIterator end, std::uint64_t mask) {
    const std::uint64_t hash = from->nameHash & mask;
    while (from != end && (from->nameHash & mask) == hash) {
        ++from;
    }
    return from;
}

// The records of one key group, [begin, end): first which share a key,
// then, run by run, which share a spelling.
int compare_group(const NameSource& names, RecordIterator begin, RecordIterator end) {
    for (RecordIterator it = begin; it != end; ++it) {
        it->facts.same.sameKey = NO_ENTRY;
    }
    if (!mark_equal_names(names, begin, end, &SameNames::sameKey, NameForm::key)) {
        return 0;
    }
    for (RecordIterator run = begin, next; run != end; run = next) {
        next = run_end(run, end, ~std::uint64_t{0});
        if (next - run < 2) {
            continue;
        }
        for (RecordIterator it = run; it != next; ++it) {
            it->facts.same.sameName = NO_ENTRY;
        }
        if (!mark_equal_names(names, run, next, &SameNames::sameName, NameForm::spelling)) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

std::uint64_t name_hash(std::string_view name, const CheckRules& rules, std::string& scratch) {
    std::string spelled;
    spelling(name, rules, &spelled);
    spelling_key(spelled, rules, &scratch);
    return combined(fnv1a(scratch), fnv1a(spelled));
}

void order_by_hash(EntryRecords& records) {
    auto by_hash = [](const EntryRecord& a, const EntryRecord& b) {
        return a.nameHash != b.nameHash ? a.nameHash < b.nameHash : a.number < b.number;
    };
    if (!std::is_sorted(records_begin(records), records_end(records), by_hash)) {
        std::sort(records_begin(records), records_end(records), by_hash);
    }
}

CheckEnd compare_names(EntryRecords& records, CheckSource& source, const CheckRules& rules) {
    const NameSource names{source, rules};
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    for (RecordIterator it = begin; it != end; ++it) {
        it->facts.same = {it->number, it->number};
    }
    order_by_hash(records);
    RecordIterator group = begin;
    while (group != end && group->nameHash == NO_NAME_HASH) {
        ++group;
    }
    for (RecordIterator next; group != end; group = next) {
        next = run_end(group, end, ~SPELLING_MASK);
        if (next - group > 1 && !compare_group(names, group, next)) {
            return CheckEnd::read_failed;
        }
    }
    return CheckEnd::done;
}

namespace {

// The name of a record's entry read again, as stored, into `raw`: the walk
// met it whole, shorter than a path, so one read of a path's length holds
// it. 1, or 0 when it could not be read.
int read_name(CheckSource& source, const EntryRecord& record, std::string* raw) {
    char bytes[PATH_CAPACITY];
    std::uint32_t got = 0;
    const std::uint32_t at = static_cast<std::uint32_t>(HEADER_SIZE + ENTRY_NAME_AT) + record.place;
    if (!source.read(at, bytes, PATH_CAPACITY, &got) || std::memchr(bytes, 0, got) == nullptr) {
        return 0;
    }
    raw->assign(bytes);
    return 1;
}

// Whether the record's entry is named `spelled` (or, with `key`, that but
// for letter case). The last record read is kept: many entries of one
// folder meet the same file.
int record_named(const NameSource& names, const EntryRecord& record, std::string_view spelled,
                 const std::string* key, FolderSearch& search, bool* named) {
    if (search.number != record.number) {
        search.number = NO_ENTRY;
        if (!read_name(names.source, record, &search.raw)) {
            return 0;
        }
        spelling(search.raw, names.rules, &search.spelled);
        spelling_key(search.spelled, names.rules, &search.key);
        search.number = record.number;
    }
    *named = key == nullptr ? search.spelled == spelled : search.key == *key;
    return 1;
}

}  // namespace

CheckEnd file_in_the_way(RecordIterator begin, RecordIterator end, std::string_view name, CheckSource& source,
                         const CheckRules& rules, FolderSearch& search, FolderFinding* found) {
    const NameSource names{source, rules};
    const LeadBytes& lead = *rules.lead;
    *found = {NO_ENTRY, false};
    std::string spelled;
    spelling(name, rules, &spelled);
    std::uint64_t key_hash = FNV_START;
    std::uint64_t spelling_hash = FNV_START;
    std::string part_key;
    std::string key;
    auto by_hash = [](const EntryRecord& r, std::uint64_t hash) { return r.nameHash < hash; };
    for (std::size_t start = 0, i = 0; i < spelled.size();) {
        if (spelled[i] != '\\') {
            i += character_length(spelled, i, lead);
            continue;
        }
        // spelled[0, i) is a folder the entry needs.
        const std::string_view part = std::string_view(spelled).substr(start, i - start);
        spelling_key(part, rules, &part_key);
        key_hash = fnv1a(part_key, key_hash);
        spelling_hash = fnv1a(part, spelling_hash);
        key += part_key;
        const std::string_view folder = std::string_view(spelled).substr(0, i);
        const std::uint64_t hash = combined(key_hash, spelling_hash);
        const std::uint64_t group = hash & ~SPELLING_MASK;
        // Mostly no entry has the folder's key: one search tells.
        const RecordIterator first = std::lower_bound(begin, end, group, by_hash);
        const bool keyed = first != end && (first->nameHash & ~SPELLING_MASK) == group;
        for (RecordIterator it = keyed ? std::lower_bound(first, end, hash, by_hash) : end;
             it != end && it->nameHash == hash; ++it) {
            bool named = false;
            if (!record_named(names, *it, folder, nullptr, search, &named)) {
                return CheckEnd::read_failed;
            }
            if (named) {
                *found = {it->number, true};
                search.found = search.raw;
                return CheckEnd::done;
            }
        }
        for (RecordIterator it = keyed && found->file == NO_ENTRY ? first : end;
             it != end && (it->nameHash & ~SPELLING_MASK) == group; ++it) {
            bool named = false;
            if (it->nameHash == NO_NAME_HASH) {
                continue;
            }
            if (!record_named(names, *it, folder, &key, search, &named)) {
                return CheckEnd::read_failed;
            }
            if (named) {
                *found = {it->number, false};
                search.found = search.raw;
                break;
            }
        }
        key_hash = fnv1a("\\", key_hash);
        spelling_hash = fnv1a("\\", spelling_hash);
        key += '\\';
        start = ++i;
    }
    return CheckEnd::done;
}
