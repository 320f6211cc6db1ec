// A folder held against the open archive, as UPDATE and COMPARE hold it:
// each file the walk meets stands for the entry of the same name, names
// compared the way the game looks them up (either separator, ASCII letters
// in either case), and one entry for one file at most.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/create/create.h"
#include "cli/create/read_ahead.h"
#include "lib/format/big_format.h"

inline constexpr std::uint32_t NO_MATCH = UINT32_MAX;

struct TreeMatch {
    const char* root = nullptr;          // the input directory, made absolute
    std::vector<WalkedFile> files;       // in walk order
    std::string keys;                    // the files' name keys, one after another
    std::vector<std::uint32_t> keyAt;    // where each file's key starts in keys
    std::vector<std::uint32_t> byKey;    // the files, ordered by key
    std::vector<std::uint32_t> entryOf;  // the entry each file stands for, or NO_MATCH
    // The file each entry stands for, or NO_MATCH: 4 bytes for each entry
    // the index holds, so that the work after the match looks nothing up.
    std::vector<std::uint32_t> fileOf;
    // The entries whose files are small enough to be read ahead, in order:
    // of the entry's size, its data inside the archive; and where each
    // one's data starts.
    std::vector<std::uint32_t> readable;
    std::vector<std::uint32_t> readableAt;
    std::string key;                     // scratch, so that lookups allocate once
};

// Walks `root` as CREATE walks it. 1, or 0 after printing why.
int walk_for_match(const char* root, TreeMatch* match);

// Finds the file each of the archive's `count` entries stands for. Ends the
// run with status 2 after printing why when the match is not one to one:
// two files for an entry (names that differ only in case), or one file for
// two entries.
void match_entries(TreeMatch& match, std::uint32_t count);

// The file that entry `n` stands for, or NO_MATCH; after match_entries.
std::uint32_t file_for_entry(const TreeMatch& match, std::uint32_t n);

// The full path of file `file`: to open it and to show it.
std::string file_path(const TreeMatch& match, std::uint32_t file);

// Whether the data of entry `n` lies inside the archive, where it can be
// read; if not, says so (an "Error: " line), false.
bool entry_data_readable(std::uint32_t n, const BigEntry& entry);

enum class Sameness { same, different, failed };

// The files of match.readable, for a ReadAhead, keyed by their entries,
// with their entries' offsets.
ReadAhead::Source readable_files(const TreeMatch& match);

// The archive for the pool's workers to compare the files they read ahead
// with: a handle of their own, or none without workers.
FileHandle archive_for_workers(const WorkPool& pool);

// Whether file `file` holds exactly the data of `entry`, entry `n` (readable,
// and of the same size as the file was listed with), the file taken from
// `ahead` when it was read ahead there. `failed` after printing why the file
// or the archive could not be read.
Sameness same_bytes(const TreeMatch& match, std::uint32_t file, std::uint32_t n, const BigEntry& entry,
                    ReadAhead* ahead);
