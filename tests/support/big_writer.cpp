// See big_writer.h.
#include "support/big_writer.h"

std::string be32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
    }
    return bytes;
}

std::string le32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
    return bytes;
}

std::string big_header(const std::string& magic, std::uint32_t archive_size, std::uint32_t file_count,
                       std::uint32_t start_offset) {
    return magic.substr(0, 4) + le32(archive_size) + be32(file_count) + be32(start_offset);
}

std::string big_entry(std::uint32_t data_offset, std::uint32_t data_size, const std::string& name,
                      bool terminated) {
    std::string bytes = be32(data_offset) + be32(data_size) + name;
    if (terminated) {
        bytes += '\0';
    }
    return bytes;
}

std::string big_archive(const std::vector<FixtureEntry>& entries) {
    std::size_t index_size = 0;
    std::size_t data_size = 0;
    for (const FixtureEntry& entry : entries) {
        index_size += 9 + entry.name.size();
        data_size += entry.data.size();
    }
    auto start = static_cast<std::uint32_t>(16 + index_size + 8);
    auto total = static_cast<std::uint32_t>(start + data_size);
    std::string bytes = big_header("BIGF", total, static_cast<std::uint32_t>(entries.size()), start);
    std::uint32_t offset = start;
    for (const FixtureEntry& entry : entries) {
        bytes += big_entry(offset, static_cast<std::uint32_t>(entry.data.size()), entry.name);
        offset += static_cast<std::uint32_t>(entry.data.size());
    }
    bytes += END_RECORD;
    for (const FixtureEntry& entry : entries) {
        bytes += entry.data;
    }
    return bytes;
}

void patch_be32(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes.replace(at, 4, be32(value));
}

void patch_le32(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes.replace(at, 4, le32(value));
}

std::string sized(std::string bytes) {
    patch_le32(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}
