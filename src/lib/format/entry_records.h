// What CHECK keeps of each entry from one step to the next: 24 bytes an
// entry, in blocks allocated as the walk meets entries and never moved.
// Memory follows the entries the index holds, not the count its header
// claims, and growing copies nothing, so no moment holds the records twice.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "lib/checks/check_archive.h"

// What the steps learn of an entry, each in turn in the same 8 bytes: what
// one step leaves, the next reads and replaces.
struct DataRange {  // the walk's: size 0 when there is no data to read
    std::uint32_t offset;
    std::uint32_t size;
};
struct DataFound {  // the data step's
    std::uint32_t unreadable;  // 1 when a part of the data could not be read
    std::uint32_t overlapped;  // the entry whose data this one's overlaps, or NO_ENTRY
};
struct SameNames {  // the name step's: the first entry, by number, whose name
    std::uint32_t sameKey;   // equals this one's but for letter case
    std::uint32_t sameName;  // equals this one's
};
union EntryFacts {
    DataRange range;
    DataFound found;
    SameNames same;
};

// A name that takes no part in the name comparisons has this hash.
inline constexpr std::uint64_t NO_NAME_HASH = 0;

struct EntryRecord {
    std::uint64_t nameHash;
    std::uint32_t number;
    std::uint32_t place;  // where the entry starts in the index
    EntryFacts facts;
};
static_assert(sizeof(EntryRecord) == 24);

inline constexpr std::ptrdiff_t RECORD_BLOCK = 4096;

struct EntryRecords {
    std::vector<std::unique_ptr<EntryRecord[]>> blocks;
    std::ptrdiff_t count = 0;
};

// 1, or 0 when the memory was not there.
int add_record(EntryRecords& records, const EntryRecord& record);

// The records as one sequence, for std::sort and the steps' passes. Valid
// while no record is added.
struct RecordIterator {
    using iterator_category = std::random_access_iterator_tag;
    using value_type = EntryRecord;
    using difference_type = std::ptrdiff_t;
    using pointer = EntryRecord*;
    using reference = EntryRecord&;

    const std::unique_ptr<EntryRecord[]>* blocks = nullptr;
    difference_type at = 0;

    reference operator*() const { return blocks[at / RECORD_BLOCK][at % RECORD_BLOCK]; }
    pointer operator->() const { return &**this; }
    reference operator[](difference_type n) const { return *(*this + n); }
    RecordIterator& operator++() { ++at; return *this; }
    RecordIterator& operator--() { --at; return *this; }
    RecordIterator operator++(int) { RecordIterator old = *this; ++at; return old; }
    RecordIterator operator--(int) { RecordIterator old = *this; --at; return old; }
    RecordIterator& operator+=(difference_type n) { at += n; return *this; }
    RecordIterator& operator-=(difference_type n) { at -= n; return *this; }
    friend RecordIterator operator+(RecordIterator it, difference_type n) { return it += n; }
    friend RecordIterator operator+(difference_type n, RecordIterator it) { return it += n; }
    friend RecordIterator operator-(RecordIterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const RecordIterator& a, const RecordIterator& b) {
        return a.at - b.at;
    }
    friend bool operator==(const RecordIterator& a, const RecordIterator& b) { return a.at == b.at; }
    friend auto operator<=>(const RecordIterator& a, const RecordIterator& b) { return a.at <=> b.at; }
};

RecordIterator records_begin(EntryRecords& records);
RecordIterator records_end(EntryRecords& records);

// The record's entry read again from the index, valid until the source's
// next call.
inline SourceRead entry_again(CheckSource& source, const EntryRecord& record, BigEntry* entry) {
    return source.entry_at(record.number, record.place, entry);
}
