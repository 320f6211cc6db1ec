// See index_writer.h.
#include "lib/writer/index_writer.h"

#include "lib/format/big_format.h"

namespace {

// The index is written in pieces of this size.
constexpr std::uint32_t INDEX_PIECE = 64 * 1024;

WriteOutcome changed(std::uint32_t k) {
    return {WriteFault::plan_failed, k, "The entries changed while the archive was written."};
}

WriteOutcome unwritten(std::uint32_t k) {
    return {WriteFault::write_failed, k, "Could not write end entry."};
}

}  // namespace

IndexWriter::IndexWriter(WriteCalls& calls, std::uint64_t index_bytes)
    : out_(calls, INDEX_PIECE, HEADER_SIZE), end_(HEADER_SIZE + index_bytes), offset_(data_start()) {}

WriteOutcome IndexWriter::add(std::uint32_t k, const PlannedEntry& entry, const EntryPlan* pieces) {
    // Planned below 4 GiB; a plan read again must still be.
    if (!fits_archive(offset_ + entry.size)) {
        return {WriteFault::too_large, k, "The archive would reach 4 GiB."};
    }
    std::uint8_t fields[ENTRY_NAME_AT];
    store_entry_fields(fields, static_cast<std::uint32_t>(offset_), entry.size);
    offset_ += entry.size;
    if (!fits(sizeof fields + entry.name.size())) {
        return changed(k);
    }
    if (!out_.append(fields, sizeof fields) || !out_.append(entry.name.data(), entry.name.size())) {
        return unwritten(k);
    }
    for (std::uint64_t at = entry.name.size(); at < entry.nameLength;) {
        const std::string_view piece = pieces != nullptr ? pieces->name_piece(k, at) : std::string_view();
        if (pieces != nullptr && pieces->lost()) {
            return {WriteFault::plan_failed, k, ""};
        }
        if (piece.empty() || !fits(piece.size())) {
            return changed(k);
        }
        if (!out_.append(piece.data(), piece.size())) {
            return unwritten(k);
        }
        at += piece.size();
    }
    if (!fits(1)) {
        return changed(k);
    }
    return out_.append("", 1) ? WriteOutcome{} : unwritten(k);
}

WriteOutcome IndexWriter::end(std::uint32_t count) {
    if (out_.at + out_.held != end_) {
        return changed(count);
    }
    std::uint8_t record[END_RECORD_SIZE];
    store_end_record(record);
    return out_.append(record, sizeof record) && out_.flush() ? WriteOutcome{} : unwritten(count);
}

WriteOutcome write_header(WriteCalls& calls, std::uint32_t count, std::uint64_t data_start,
                          std::uint64_t archive_size) {
    std::uint8_t header[HEADER_SIZE] = {};
    store_header(header, static_cast<std::uint32_t>(archive_size), count, static_cast<std::uint32_t>(data_start));
    if (!calls.write_at(0, header, HEADER_SIZE)) {
        return {WriteFault::write_failed, count, "Could not write BIG header."};
    }
    return {};
}
