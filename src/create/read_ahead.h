// The tree's small files read ahead by the pool's workers, while the main
// thread writes or compares in order: the system's per-file cost (open,
// read, close) overlaps, and the run takes each file where a run without
// threads would open and read it (file_take_open, file_take_read), so
// that its messages and failures stay in their places.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/work_pool.h"
#include "platform/platform.h"

// A file of at most this many bytes is read ahead; a larger one is left to
// the main thread, where the system copies it or it is compared in chunks.
inline constexpr std::uint32_t READ_AHEAD_LIMIT = 64 * 1024;

// The bytes in flight at most: so many batches, each a buffer of this size.
inline constexpr std::uint32_t AHEAD_BATCHES = 16;
inline constexpr std::uint32_t AHEAD_BATCH_BYTES = 256 * 1024;

struct AheadFile {
    std::uint32_t key;
    std::uint32_t size;
    std::uint32_t pathAt;
    std::uint32_t bytesAt;
    FileAhead outcome;
};

class ReadAhead {
public:
    // The next file to read ahead, in the order the run takes them: its
    // key (increasing), path and size (at most READ_AHEAD_LIMIT); false
    // when there is none left.
    using Source = std::function<bool(std::uint32_t* key, std::string* path, std::uint32_t* size)>;

    // Nothing is read ahead when the pool has no workers or the test seam
    // is to hold the run before a read.
    ReadAhead(WorkPool& pool, Source source);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The file of `key`, read ahead with one byte more than its size, or
    // null when it was not: files before it that were read ahead are
    // passed over. Valid until the next call.
    const AheadFile* take(std::uint32_t key);

    // The path and the bytes of a file that take gave.
    const char* path_of(const AheadFile& file) const;
    const std::uint8_t* bytes_of(const AheadFile& file) const;

private:
    struct Batch {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::string paths;
        std::vector<AheadFile> files;
        std::size_t next = 0;  // the file take looks at next
        std::uint64_t ticket = 0;
    };

    void fill();
    bool fill_batch(Batch& batch);

    WorkPool& pool_;
    Source source_;
    bool on_ = false;
    bool started_ = false;
    bool ended_ = false;  // the source has no more
    std::vector<Batch> batches_;  // a ring: `first_` is taken from, `count_` in flight
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    // A file the source gave that did not fit the batch being filled.
    bool held_ = false;
    std::uint32_t heldKey_ = 0;
    std::string heldPath_;
    std::uint32_t heldSize_ = 0;
};
