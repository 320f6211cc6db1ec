// The tree's small files read ahead by the pool's workers, while the main
// thread writes or compares in order: the system's per-file cost (open,
// read, close) overlaps, and the run takes each file where a run without
// threads would open and read it (file_take_open, file_take_read), so
// that its messages and failures stay in their places. For CREATE the
// workers also write what they read into the archive, at the files' places
// in it, so that the main thread neither copies nor writes the small
// files' bytes; for COMPARE and UPDATE they compare them with the
// archive's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib/threads/work_pool.h"
#include "platform/platform.h"

// A file of at most this many bytes is read ahead; a larger one is left to
// the main thread, where the system copies it or it is compared in chunks.
inline constexpr std::uint32_t READ_AHEAD_LIMIT = 64 * 1024;

// The bytes in flight at most: so many batches, each a buffer of this size.
inline constexpr std::uint32_t AHEAD_BATCHES = 16;
inline constexpr std::uint32_t AHEAD_BATCH_BYTES = 256 * 1024;

// Where the workers compare: what they found of a file read as listed.
enum class AheadMatch : std::uint8_t { not_compared, same, different };

struct AheadFile {
    std::uint32_t key;
    std::uint32_t size;
    std::uint32_t pathAt;
    std::uint32_t bytesAt;
    std::uint64_t offset;  // in the target or the archive, where the workers write or compare
    FileAhead outcome;
    AheadMatch match = AheadMatch::not_compared;
};

class ReadAhead {
public:
    // The next file to read ahead, in the order the run takes them: its
    // key (increasing), path, size (at most READ_AHEAD_LIMIT) and, where
    // the workers write or compare, its offset in the target or in the
    // archive; false when there is none left.
    using Source = std::function<bool(std::uint32_t* key, std::string* path, std::uint32_t* size,
                                       std::uint64_t* offset)>;

    // Nothing is read ahead when the pool has no workers or the test seam
    // is to hold the run before a read. With a `target` (from
    // file_open_again_for_writing, closed here), each batch's worker
    // writes the files it read as listed there, up to the first that was
    // not, at their offsets: a batch then holds only files that lie one
    // after another in it. With an `archive` (from file_open_again, closed
    // here), each batch's worker reads the files' bytes there, at their
    // offsets, and compares each file read as listed with them.
    ReadAhead(WorkPool& pool, Source source, FileHandle target = INVALID_FILE, FileHandle archive = INVALID_FILE);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The file of `key`, read ahead with one byte more than its size, or
    // null when it was not: files before it that were read ahead are
    // passed over. Valid until the next call.
    const AheadFile* take(std::uint32_t key);

    // Whether the workers write into a target.
    bool writes() const { return target_ != INVALID_FILE; }
    // Whether a batch's files lie one after another in its buffer, with
    // one byte to spare after the last alone.
    bool packed() const { return target_ != INVALID_FILE || archive_ != INVALID_FILE; }

    // After take gave the first file taken from its batch, where the
    // workers write: true, with *written telling whether the batch's
    // write succeeded (file_take_written takes it). False otherwise.
    bool batch_write_to_take(bool* written);

    // The path and the bytes of a file that take gave.
    const char* path_of(const AheadFile& file) const;
    const std::uint8_t* bytes_of(const AheadFile& file) const;

private:
    struct Batch {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::unique_ptr<std::uint8_t[]> archived;  // the archive's bytes of the files, when compared
        std::string paths;
        std::vector<AheadFile> files;
        std::size_t next = 0;  // the file take looks at next
        std::uint64_t ticket = 0;
        bool written = false;
        bool taken = false;  // a file of it was taken
    };

    void fill();
    bool fill_batch(Batch& batch);

    WorkPool& pool_;
    Source source_;
    FileHandle target_;
    FileHandle archive_;
    bool writeDue_ = false;  // take gave a batch's first file taken
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
    std::uint64_t heldOffset_ = 0;
};
