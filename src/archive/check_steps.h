// The steps of the CHECK command after its walk of the index, which leaves
// one record per entry (entry_records.h). Each step leaves its findings in
// the records for the command to print in entry order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/entry_records.h"

// Reads the data of every record with a range once, in ascending offset
// order, through one buffer, and leaves DataFound in every record. Ranges
// lie inside the archive of `archive_size` bytes. 1, or 0 after saying why.
int read_entry_data(EntryRecords& records, std::uint32_t archive_size);

// The hash under which `name` is compared; `scratch` is working space.
std::uint64_t name_hash(std::string_view name, std::string& scratch);

// Compares the names of the records with a hash and leaves SameNames in
// every record. 1, or 0 after saying why.
int compare_names(EntryRecords& records);
