// An archive held for random access: the header, the index's entries as
// stored, and a table of where each entry starts, with a hash of the names
// by the game's rule. Built by one validating walk of the index, the same
// walk the command line's reader makes; afterwards every question is
// answered from memory, and nothing changes, so any number of threads may
// ask at once.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "lib/format/big_format.h"
#include "lib/format/header_check.h"
#include "platform/platform.h"

// Positioned reads of the archive's bytes: 1 with *got (fewer only at its
// end), 0 when they could not be read.
struct ArchiveSource {
    int (*read)(void* context, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got);
    void* context;
    std::uint64_t size;
    // The file read, when the reads are a plain file's: a writer may then
    // have the system copy its data.
    FileHandle file = INVALID_FILE;
};

struct TableEntry {
    std::uint32_t at;          // where the entry starts in the index
    std::uint32_t nameLength;  // without its terminator
    std::uint32_t next;        // the next entry of its hash bucket, + 1; 0 for none
};

struct FreeBytes {
    void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};

struct ArchiveTable {
    BigHeader header{};
    std::unique_ptr<std::uint8_t[], FreeBytes> index;  // the entries' bytes, the names terminated
    std::vector<TableEntry> entries;
    // Made by the first lookup, once, whichever thread asks: a caller that
    // only lists pays nothing for it.
    std::once_flag hashed;
    std::vector<std::uint32_t> buckets;  // the first entry of each, + 1; 0 for none
};

// Reads and validates the archive as the command line's reader does, in
// the same order, and builds the table: one read of the index, in pieces,
// which stops at the last entry the header counts. On a fault the table is
// empty. Throws nothing: no memory is OpenFault::no_memory.
OpenFault table_open(ArchiveTable& table, const ArchiveSource& source);

inline std::string_view table_name(const ArchiveTable& table, std::uint32_t k) {
    const TableEntry& entry = table.entries[k];
    return {reinterpret_cast<const char*>(table.index.get() + entry.at + ENTRY_NAME_AT), entry.nameLength};
}

inline std::uint32_t table_data_offset(const ArchiveTable& table, std::uint32_t k) {
    return load_be32(table.index.get() + table.entries[k].at + ENTRY_DATA_OFFSET_AT);
}

inline std::uint32_t table_data_size(const ArchiveTable& table, std::uint32_t k) {
    return load_be32(table.index.get() + table.entries[k].at + ENTRY_DATA_SIZE_AT);
}

// The first entry, in index order, that has `name` by the game's rule. May
// throw std::bad_alloc, the first time.
std::optional<std::uint32_t> table_lookup(ArchiveTable& table, std::string_view name);

// How many entries have `name` by the game's rule, counting to 2 at most;
// *first is the first of them. May throw std::bad_alloc, the first time.
std::uint32_t table_count_named(ArchiveTable& table, std::string_view name, std::uint32_t* first);

// Marks in `selected` every entry that has `name` by the game's rule; true
// when one has. May throw std::bad_alloc.
bool table_mark_named(ArchiveTable& table, std::string_view name, std::vector<bool>& selected);
