// A small archive writer for tests, independent of the tool's own builder:
// well-formed archives from a list of entries, and the raw pieces to build
// broken ones byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FixtureEntry {
    std::string name;  // as stored, with backslashes
    std::string data;
};

// The archive the tool writes for these entries: header, index, end record,
// then the data in index order.
std::string big_archive(const std::vector<FixtureEntry>& entries);

std::string be32(std::uint32_t value);
std::string le32(std::uint32_t value);

// A 16-byte header with every field given.
std::string big_header(const std::string& magic, std::uint32_t archive_size, std::uint32_t file_count,
                       std::uint32_t start_offset);

// One index entry; `name` is stored with its terminator unless told not to.
std::string big_entry(std::uint32_t data_offset, std::uint32_t data_size, const std::string& name,
                      bool terminated = true);

inline const std::string END_RECORD("L225\0\0\0\0", 8);

// Overwrites four bytes at `at` with a big- or little-endian value.
void patch_be32(std::string& bytes, std::size_t at, std::uint32_t value);
void patch_le32(std::string& bytes, std::size_t at, std::uint32_t value);

// `bytes` with archiveSize made to match however they were put together.
std::string sized(std::string bytes);
