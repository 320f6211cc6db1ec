// Decoding and storing of the header, the index entries and the end
// record; see big_format.h.
#include "lib/format/big_format.h"

#include <cstring>

BigHeader decode_header(const std::uint8_t* bytes) {
    BigHeader header;
    std::memcpy(header.magic.data(), bytes + HEADER_MAGIC_AT, header.magic.size());
    header.archiveSize = load_le32(bytes + HEADER_ARCHIVE_SIZE_AT);
    header.fileCount = static_cast<std::int32_t>(load_be32(bytes + HEADER_FILE_COUNT_AT));
    header.startOffset = load_be32(bytes + HEADER_START_OFFSET_AT);
    return header;
}

void store_header(std::uint8_t* at, std::uint32_t archive_size, std::uint32_t file_count,
                  std::uint32_t start_offset) {
    std::memcpy(at + HEADER_MAGIC_AT, BIG_MAGIC.data(), BIG_MAGIC.size());
    store_le32(at + HEADER_ARCHIVE_SIZE_AT, archive_size);
    store_be32(at + HEADER_FILE_COUNT_AT, file_count);
    store_be32(at + HEADER_START_OFFSET_AT, start_offset);
}

void store_entry_fields(std::uint8_t* at, std::uint32_t data_offset, std::uint32_t data_size) {
    store_be32(at + ENTRY_DATA_OFFSET_AT, data_offset);
    store_be32(at + ENTRY_DATA_SIZE_AT, data_size);
}

void store_end_record(std::uint8_t* at) {
    std::memcpy(at, END_TAG.data(), END_TAG.size());
    std::memset(at + END_TAG.size(), 0, END_RECORD_SIZE - END_TAG.size());
}

std::optional<BigEntry> entry_at(std::span<const std::uint8_t> index, std::size_t at) {
    if (at > index.size() || index.size() - at < ENTRY_FIXED_SIZE) {
        return std::nullopt;
    }
    const std::uint8_t* name = index.data() + at + ENTRY_NAME_AT;
    std::size_t room = index.size() - at - ENTRY_NAME_AT;
    const void* terminator = std::memchr(name, 0, room);
    if (terminator == nullptr) {
        return std::nullopt;
    }
    auto length = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(terminator) - name);
    return BigEntry{index.data() + at, {reinterpret_cast<const char*>(name), length}, length};
}
