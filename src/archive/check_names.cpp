// CHECK's name step: entries whose names would extract onto one file.
// Names are compared by hash and confirmed by reading them again from the
// index, so that no name is held for the whole run.
#include <algorithm>

#include "archive/check_steps.h"
#include "common/name_pattern.h"

namespace {

// The hash holds the key's hash (name_key: letter case and separators
// aside) in its high bits and the spelling's (separators aside) in its low
// ones. Names with one key meet in one group, and names spelt alike in one
// run within it, so that a name with thousands of case variants is compared
// with its own spelling only, not with each of them.
constexpr int SPELLING_BITS = 24;
constexpr std::uint64_t SPELLING_MASK = (std::uint64_t{1} << SPELLING_BITS) - 1;

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : bytes) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    }
    return hash;
}

// The name as it is spelt, '/' and '\' taken as one separator.
void spelling(std::string_view name, std::string* out) {
    out->assign(name);
    std::replace(out->begin(), out->end(), '/', '\\');
}

enum class NameForm { key, spelling };

int name_in_form(const EntryRecord& record, NameForm form, std::string* out) {
    std::optional<BigEntry> entry = entry_again(record);
    if (!entry) {
        return 0;
    }
    if (form == NameForm::key) {
        name_key(entry->name, out);
    } else {
        spelling(entry->name, out);
    }
    return 1;
}

// Gives each record of [begin, end) whose `mark` is NO_ENTRY the number of
// the first record, by number, whose name in `form` equals its own. Names
// that merely share a hash take a pass each; names equal, one pass in all.
int mark_equal_names(RecordIterator begin, RecordIterator end, std::uint32_t SameNames::*mark,
                     NameForm form) {
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
        if (!name_in_form(*first, form, &first_name)) {
            return 0;
        }
        first->facts.same.*mark = first->number;
        for (RecordIterator it = begin; it != end; ++it) {
            if (it->facts.same.*mark != NO_ENTRY) {
                continue;
            }
            if (!name_in_form(*it, form, &name)) {
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
int compare_group(RecordIterator begin, RecordIterator end) {
    for (RecordIterator it = begin; it != end; ++it) {
        it->facts.same.sameKey = NO_ENTRY;
    }
    if (!mark_equal_names(begin, end, &SameNames::sameKey, NameForm::key)) {
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
        if (!mark_equal_names(run, next, &SameNames::sameName, NameForm::spelling)) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

std::uint64_t name_hash(std::string_view name, std::string& scratch) {
    name_key(name, &scratch);
    std::uint64_t key = fnv1a(scratch);
    spelling(name, &scratch);
    std::uint64_t hash = (key & ~SPELLING_MASK) | (fnv1a(scratch) & SPELLING_MASK);
    return hash == NO_NAME_HASH ? NO_NAME_HASH + 1 : hash;
}

int compare_names(EntryRecords& records) {
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    for (RecordIterator it = begin; it != end; ++it) {
        it->facts.same = {it->number, it->number};
    }
    std::sort(begin, end, [](const EntryRecord& a, const EntryRecord& b) {
        return a.nameHash != b.nameHash ? a.nameHash < b.nameHash : a.number < b.number;
    });
    RecordIterator group = begin;
    while (group != end && group->nameHash == NO_NAME_HASH) {
        ++group;
    }
    for (RecordIterator next; group != end; group = next) {
        next = run_end(group, end, ~SPELLING_MASK);
        if (next - group > 1 && !compare_group(group, next)) {
            return 0;
        }
    }
    return 1;
}
