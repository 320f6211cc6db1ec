// Decoding of the header and the index entries; see big_format.h.
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
