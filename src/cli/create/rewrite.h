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

#include "lib/format/big_format.h"

// The plan is made in entry order, one call for each entry of the open
// archive, then one for each entry added; it holds 4 bytes for each entry
// and the files' paths, not the new index: that is written from a second
// walk of the open archive's index, in pieces, as the data is.

// Ends the run with status 2, naming it, when the archive at
// `archive_path` is marked read-only: it is not replaced, whoever runs.
void refuse_read_only(const char* archive_path);

// Entry `entry` (which find_entry gave last) stays, its whole name as
// stored: its data kept when `path` is null, otherwise the file at `path`
// of `size` bytes.
void plan_entry(const BigEntry& entry, const char* path, std::uint32_t size);

// The next entry of the open archive goes.
void plan_removal();

// Appends a new entry named `name`, which stays valid until the archive is
// replaced, its data the file at `path`.
void plan_new_entry(std::string_view name, const std::string& path, std::uint32_t size);

// Writes the planned archive and puts it in place of the archive at
// `archive_path` (which is open, and is closed here), printing a line for
// each file it takes data from. Refuses an archive that would reach 4 GiB.
// Returns once the new archive is in place;
// on any failure ends the run with status 2 after printing why, the
// archive as it was and no new file left.
void replace_archive(const char* archive_path);
