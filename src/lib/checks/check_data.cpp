// CHECK's data step: every entry's data read once, and the ranges compared.
#include <algorithm>
#include <deque>
#include <memory>
#include <new>

#include "lib/checks/check_steps.h"
#include "lib/text/limits.h"

namespace {

// Bytes [from, to) of the archive that a read did not deliver.
struct Unread {
    std::uint64_t from;
    std::uint64_t to;
};

// What the reading has done so far. Reads go forward only; the unread
// parts that may still touch a later range are kept, ascending and apart.
// They lie between reads that succeeded, each a whole buffer, so a 4 GiB
// archive keeps 8,192 at most (128 KiB).
struct Reading {
    std::unique_ptr<std::uint8_t[]> buffer;
    std::uint64_t covered = 0;  // every byte before this has been read, or tried
    std::deque<Unread> unread;
    std::uint32_t archiveSize = 0;
    CheckSource* source = nullptr;
};

// The reads' size: a buffer that stays in the processor's cache, into
// which the system copies faster than into the 5 MiB of a copy.
constexpr std::uint32_t CHECK_READ = 256 * 1024;

void note_unread(Reading& reading, std::uint64_t from, std::uint64_t to) {
    if (!reading.unread.empty() && reading.unread.back().to >= from) {
        reading.unread.back().to = std::max(reading.unread.back().to, to);
        return;
    }
    reading.unread.push_back({from, to});
}

// Reads what has not been read of [from, to). Each read takes a whole
// buffer, since the next entry's data usually follows; a read that fails
// is judged for this range alone, and the next range tries its own bytes.
void read_range(Reading& reading, std::uint64_t from, std::uint64_t to) {
    std::uint64_t at = std::max(from, reading.covered);
    while (at < to) {
        const auto want =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(CHECK_READ, reading.archiveSize - at));
        std::uint32_t got = 0;
        if (!reading.source->read(static_cast<std::uint32_t>(at), reading.buffer.get(), want, &got)) {
            got = 0;
        }
        if (got < want && at + got < to) {
            std::uint64_t end = std::min(at + want, to);
            note_unread(reading, at + got, end);
            at = end;
        } else {
            at += got;
        }
    }
    reading.covered = std::max(reading.covered, at);
}

bool by_offset(const EntryRecord& a, const EntryRecord& b) {
    if (a.facts.range.offset != b.facts.range.offset) {
        return a.facts.range.offset < b.facts.range.offset;
    }
    return a.number < b.number;
}

// The records with a range first, in offset order (an archive CREATE made
// has them so already), then the others, in any order.
void sort_by_offset(RecordIterator begin, RecordIterator end) {
    RecordIterator ranges_end =
        std::partition(begin, end, [](const EntryRecord& r) { return r.facts.range.size > 0; });
    if (!std::is_sorted(begin, ranges_end, by_offset)) {
        std::sort(begin, ranges_end, by_offset);
    }
}

}  // namespace

CheckEnd read_entry_data(EntryRecords& records, std::uint32_t archive_size, CheckSource& source) {
    const RecordIterator begin = records_begin(records);
    const RecordIterator end = records_end(records);
    sort_by_offset(begin, end);
    Reading reading;
    reading.archiveSize = archive_size;
    reading.source = &source;
    if (begin != end && begin->facts.range.size > 0) {
        reading.buffer.reset(new (std::nothrow) std::uint8_t[CHECK_READ]);
        if (!reading.buffer) {
            return CheckEnd::no_memory;
        }
    }
    // Each range is compared with the one reaching furthest before it in
    // offset order: a range it overlaps, if it overlaps any.
    std::uint64_t furthest = 0;
    std::uint32_t furthestEntry = NO_ENTRY;
    for (RecordIterator it = begin; it != end; ++it) {
        const DataRange range = it->facts.range;
        if (range.size == 0) {
            it->facts.found = {0, NO_ENTRY};
            continue;
        }
        const std::uint64_t from = range.offset;
        const std::uint64_t to = from + range.size;
        while (!reading.unread.empty() && reading.unread.front().to <= from) {
            reading.unread.pop_front();
        }
        read_range(reading, from, to);
        bool unreadable = !reading.unread.empty() && reading.unread.front().from < to;
        it->facts.found = {unreadable ? 1u : 0u, from < furthest ? furthestEntry : NO_ENTRY};
        if (to > furthest) {
            furthest = to;
            furthestEntry = it->number;
        }
    }
    return CheckEnd::done;
}
