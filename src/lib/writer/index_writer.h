// The index of a new archive and what is written around it: each entry's
// fields (its data's offset counted on from where the data starts) and
// name, from HEADER_SIZE on, in pieces as the data is written; the end
// record; and the header, last of all, so that a file left part way has
// zeros where the magic goes. Every writer of an archive writes these
// through it.
#pragma once

#include <cstdint>

#include "lib/writer/archive_writer.h"
#include "lib/writer/output_buffer.h"

class IndexWriter {
public:
    // An index of `index_bytes` (each entry's 9 bytes and name), written
    // through `calls`. ready() is false when its buffer had no memory.
    IndexWriter(WriteCalls& calls, std::uint64_t index_bytes);
    bool ready() const { return out_.buffer != nullptr; }

    // Where the data starts, after the index and its end record.
    std::uint64_t data_start() const { return end_ + END_RECORD_SIZE; }

    // Entry k, whose data follows the data of those added before (too_large
    // where it would reach 4 GiB). Where the entry gives only the start of
    // its name, `pieces` gives the rest.
    WriteOutcome add(std::uint32_t k, const PlannedEntry& entry, const EntryPlan* pieces);

    // The end record, once `count` entries were added, which must have
    // ended where the index was planned to; written out.
    WriteOutcome end(std::uint32_t count);

private:
    bool fits(std::size_t count) const { return out_.at + out_.held + count <= end_; }

    OutputBuffer out_;
    std::uint64_t end_;     // where the planned index ends
    std::uint64_t offset_;  // the next entry's data
};

// The header of an archive of `count` entries and `archive_size` bytes,
// whose data starts at `data_start`: none, or why not.
WriteOutcome write_header(WriteCalls& calls, std::uint32_t count, std::uint64_t data_start,
                          std::uint64_t archive_size);
