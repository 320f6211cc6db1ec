// Changing the open archive safely. The new archive is planned entry by
// entry while nothing is written, then written whole to a new file beside
// the old one (its header last, so that a leftover never passes for an
// archive), synced, and put in the old one's place in one step: the
// archive's name holds the old archive or the complete new one, whatever
// happens to the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/big_format.h"

// Where an entry's data comes from.
enum class DataFrom : std::uint8_t {
    archive,    // the open archive's bytes, kept
    replacing,  // a file's, for an entry of the old archive
    adding,     // a file's, for a new entry
};

// Ends the run with status 2, naming it, when the archive at
// `archive_path` is marked read-only: it is not replaced, whoever runs.
void refuse_read_only(const char* archive_path);

// Starts the plan of the new archive. 1, or 0 after printing why.
int plan_start();

// Appends `entry` (which find_entry gave last) to the plan, its whole name
// as stored: its data kept when `path` is null, otherwise the file at `path`
// of `size` bytes. 1, or 0 after printing why (the new index would be full,
// or the name could not be read).
int plan_entry(const BigEntry& entry, const char* path, std::uint32_t size);

// Appends a new entry named `name`, its data the file at `path`.
int plan_new_entry(std::string_view name, const std::string& path, std::uint32_t size);

// Writes the planned archive and puts it in place of the archive at
// `archive_path` (which is open, and is closed here), printing a line for
// each file it takes data from. Returns once the new archive is in place;
// on any failure ends the run with status 2 after printing why, the
// archive as it was and no new file left.
void replace_archive(const char* archive_path);
