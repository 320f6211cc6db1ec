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

// An open-addressed table of 16-byte slots, at most three quarters full:
// 21 to 43 bytes per file written, besides a list of the volumes seen.
struct WrittenSlot {
    std::uint64_t file;
    std::uint32_t volume;  // its place in WrittenFiles::volumes
    std::uint32_t entry;   // the entry's number + 1; 0 for a free slot
};
static_assert(sizeof(WrittenSlot) == 16);

struct WrittenFiles {
    std::vector<std::uint64_t> volumes;  // usually one
    std::unique_ptr<WrittenSlot[]> slots;
    std::size_t capacity = 0;  // a power of two, or 0
    std::size_t count = 0;
};

// The entry written into `identity` in this run, or none.
std::optional<std::uint32_t> written_by(const WrittenFiles& files, FileIdentity identity);

// Remembers that `entry` (below 2^32 - 1) is written into `identity`,
// replacing what was remembered for it. 1, or 0 when memory ran out.
int remember_written(WrittenFiles* files, FileIdentity identity, std::uint32_t entry);
