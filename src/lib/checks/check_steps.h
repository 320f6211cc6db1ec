// The steps of the check after its walk of the index, which leaves one
// record per entry (entry_records.h). Each step leaves its findings in the
// records for check_archive to give in entry order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/format/entry_records.h"

// Reads the data of every record with a range once, in ascending offset
// order, through one buffer, and leaves DataFound in every record. Ranges
// lie inside the archive of `archive_size` bytes. done or no_memory.
CheckEnd read_entry_data(EntryRecords& records, std::uint32_t archive_size, CheckSource& source);

// The hash under which `name` is compared; `scratch` is working space.
std::uint64_t name_hash(std::string_view name, const CheckRules& rules, std::string& scratch);

// Orders the records by name hash, and by number where hashes agree.
void order_by_hash(EntryRecords& records);

// Compares the names of the records with a hash and leaves SameNames in
// every record. done or read_failed.
CheckEnd compare_names(EntryRecords& records, CheckSource& source, const CheckRules& rules);

// An entry whose name is a folder that another entry needs: extraction
// would write it as a file there, or make the folder first and fail on it.
struct FolderFinding {
    std::uint32_t file;  // NO_ENTRY when there is none
    bool exact;          // false when the names differ in letter case alone
};

// What file_in_the_way keeps from one call to the next: the entry it read
// last, under the name it is stored with, as extraction writes it, and
// that with its letters folded; and the stored name of the entry found.
struct FolderSearch {
    std::uint32_t number = NO_ENTRY;
    std::string raw;
    std::string spelled;
    std::string key;
    std::string found;
};

// The first of the folders that the entry named `name` needs, shortest
// first, that is the name of a record in [begin, end), which are ordered by
// hash: in *found the first such entry by number, or failing one of the
// same spelling, one that differs in letter case alone. done or
// read_failed.
CheckEnd file_in_the_way(RecordIterator begin, RecordIterator end, std::string_view name, CheckSource& source,
                         const CheckRules& rules, FolderSearch& search, FolderFinding* found);
