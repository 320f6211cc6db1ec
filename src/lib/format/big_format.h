// The BIG archive layout: a 16-byte header, the index of entries, an 8-byte
// end record, then the data area. Fields are decoded with explicit byte-order
// helpers from bytes known to be present; nothing is cast over file bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// Header: magic, archiveSize (little-endian), fileCount and startOffset
// (both big-endian).
inline constexpr std::size_t HEADER_SIZE = 16;
inline constexpr std::size_t HEADER_MAGIC_AT = 0;
inline constexpr std::size_t HEADER_ARCHIVE_SIZE_AT = 4;
inline constexpr std::size_t HEADER_FILE_COUNT_AT = 8;
inline constexpr std::size_t HEADER_START_OFFSET_AT = 12;
inline constexpr std::array<std::uint8_t, 4> BIG_MAGIC = {'B', 'I', 'G', 'F'};

// Index entry: dataOffset and dataSize (big-endian), then the name and its
// terminating zero byte. 9 bytes plus the name's length.
inline constexpr std::size_t ENTRY_DATA_OFFSET_AT = 0;
inline constexpr std::size_t ENTRY_DATA_SIZE_AT = 4;
inline constexpr std::size_t ENTRY_NAME_AT = 8;
inline constexpr std::size_t ENTRY_FIXED_SIZE = 9;

// End record: "L225" and four zero bytes, after the last entry.
inline constexpr std::size_t END_RECORD_SIZE = 8;
inline constexpr std::array<std::uint8_t, 4> END_TAG = {'L', '2', '2', '5'};

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

inline std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 |
           std::uint32_t{p[0]};
}

inline void store_be32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

inline void store_le32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// The header as the reader keeps it: fileCount and startOffset in host order.
struct BigHeader {
    std::array<std::uint8_t, 4> magic;
    std::uint32_t archiveSize;
    std::int32_t fileCount;
    std::uint32_t startOffset;
};

BigHeader decode_header(const std::uint8_t* bytes);

// Every offset and size is 32 bits: an archive stays below 4 GiB.
inline bool fits_archive(std::uint64_t bytes) {
    return bytes < (std::uint64_t{1} << 32);
}

// What every writer stores: a header of HEADER_SIZE bytes; an entry's fixed
// fields (ENTRY_NAME_AT bytes, its name and terminator to follow); the end
// record of END_RECORD_SIZE bytes.
void store_header(std::uint8_t* at, std::uint32_t archive_size, std::uint32_t file_count,
                  std::uint32_t start_offset);
void store_entry_fields(std::uint8_t* at, std::uint32_t data_offset, std::uint32_t data_size);
void store_end_record(std::uint8_t* at);

// A view of one entry inside index bytes held in memory; valid while they are.
// A name longer than the bytes held is known by its start and its length.
struct BigEntry {
    const std::uint8_t* bytes;  // the entry's first byte
    std::string_view name;      // the name's bytes held, up to its terminator at most
    std::uint32_t nameLength;   // the whole name's length, without its terminator
};

inline bool entry_name_is_whole(const BigEntry& entry) {
    return entry.name.size() == entry.nameLength;
}

inline std::uint32_t entry_data_offset(const BigEntry& entry) {
    return load_be32(entry.bytes + ENTRY_DATA_OFFSET_AT);
}

inline std::uint32_t entry_data_size(const BigEntry& entry) {
    return load_be32(entry.bytes + ENTRY_DATA_SIZE_AT);
}

// The entry that starts at `at` in `index`, or none when its fixed fields or
// its name's terminator lie beyond the bytes there.
std::optional<BigEntry> entry_at(std::span<const std::uint8_t> index, std::size_t at);

// Where the entry after `entry` starts.
inline std::size_t entry_end(std::span<const std::uint8_t> index, const BigEntry& entry) {
    return static_cast<std::size_t>(entry.bytes - index.data()) + ENTRY_FIXED_SIZE +
           entry.nameLength;
}
