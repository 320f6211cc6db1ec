// The files one run has written, each by its identity with the entry
// written into it, so that no two entries go into one file: Windows opens
// one file under several names (letter case, 8.3 short names), and so do
// case-insensitive file systems elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Which file a name opened, whatever the name: a volume (Windows' serial
// number, POSIX's device) and the file on it (Windows' file index, POSIX's
// inode).
struct FileIdentity {
    std::uint64_t volume;
    std::uint64_t file;
};

struct WrittenSlot {
    std::uint64_t file;
    std::uint32_t volume;  // its place in WrittenFiles::volumes
    std::uint32_t entry;   // the entry's number + 1; 0 for a free slot
};
static_assert(sizeof(WrittenSlot) == 16);

// The latest files in an open-addressed table of at most 4 MiB, at most
// three quarters full; when it is full at that size, its files join the
// others, kept sorted in blocks of 1 MiB. So 16 bytes per file written, and
// at most 5 MiB besides: a table that doubled would hold up to 64 bytes per
// file while it grew.
struct WrittenFiles {
    std::vector<std::uint64_t> volumes;  // usually one
    std::unique_ptr<WrittenSlot[]> slots;
    std::size_t capacity = 0;  // a power of two, or 0
    std::vector<std::unique_ptr<WrittenSlot[]>> blocks;
    std::size_t sorted = 0;  // files in the blocks
    std::size_t count = 0;   // all files
};

// The entry written into `identity` in this run, or none.
std::optional<std::uint32_t> written_by(const WrittenFiles& files, FileIdentity identity);

// Remembers that `entry` (below 2^32 - 1) is written into `identity`,
// replacing what was remembered for it. 1, or 0 when memory ran out.
int remember_written(WrittenFiles* files, FileIdentity identity, std::uint32_t entry);
