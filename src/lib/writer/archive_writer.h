// A new archive, planned entry by entry, then written in one pass to a new
// file beside its name: the index, the data in index order, the end record,
// and the header last; synced, and given its name only when whole, never
// over a file that has it. Nothing is written before write(), and nothing
// is left behind when it fails. Prints nothing; one writer per thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/reader/archive_table.h"
#include "lib/text/path_style.h"
#include "lib/writer/write_calls.h"
#include "lib/writer/write_outcome.h"

// One planned entry as an observer sees it.
struct PlannedView {
    std::string_view name;
    std::uint32_t size;
    const char* path;  // the file its data comes from, or null
};

// Told of each entry as its data is written, in index order: `begin`
// before, `end` once it is written, or gathered with others to be written
// later (data in memory or a source's; a source's small entries that
// follow on there are read together, before the next entry begins). A
// file's data is written before its `end`, so that a failure to write it
// is that file's.
class WriteObserver {
public:
    virtual ~WriteObserver() = default;
    virtual void begin(std::uint32_t k, const PlannedView& entry) = 0;
    virtual void end(std::uint32_t k) = 0;
    // Once the archive is whole and synced, before it takes its name:
    // false leaves nothing.
    virtual bool publish() { return true; }
};

// One entry of a plan as it is written: its data in memory, a file's, or
// a source's from `offset`.
struct PlannedEntry {
    std::string_view name;
    std::uint32_t size;
    const std::uint8_t* bytes;
    const char* path;
    const ArchiveSource* source;
    std::uint64_t offset;
    // The whole name's length where `name` is only its start (see
    // EntryPlan::name_piece); 0 where it is whole.
    std::uint64_t nameLength = 0;
};

// How a plan's owner has a file's data for the writer: not at all (the
// writer reads it), read (its bytes, one more than the entry's size asked
// for, so that a file that grew shows), or not, since it could not be
// opened or read.
enum class FedFile { none, read, open_failed, read_failed };

// A plan that its owner holds: entry(k) for each of count() entries, asked
// once each, in order, for its place in the index and then its data. The
// sources its entries point to stay where they are until the write ends: a
// run of entries is read from its source after later entries were asked
// for.
class EntryPlan {
public:
    virtual ~EntryPlan() = default;
    virtual std::uint32_t count() const = 0;
    virtual PlannedEntry entry(std::uint32_t k) const = 0;
    // The rest of entry k's name, from byte `offset` on, where entry(k)
    // gave only its start: a piece, which ends the view of the entry.
    virtual std::string_view name_piece(std::uint32_t, std::uint64_t) const { return {}; }
    // Whether the last entry() or name_piece() could not be given: a plan
    // read again from an archive may not be. Its owner knows why; the write
    // ends with plan_failed.
    virtual bool lost() const { return false; }
    // Entry k's file, where the plan's owner read it ahead: *bytes and
    // *got with FedFile::read. Asked once, as its data is written.
    virtual FedFile fed(std::uint32_t, const std::uint8_t**, std::uint32_t*) const { return FedFile::none; }
};

// Whether `name` may be stored as entry `k` (judged for extraction in
// `style`): WriteFault::none, or why not in *outcome.
WriteFault judge_name(std::string_view name, PathStyle style, std::uint32_t k, WriteOutcome* outcome);

// Writes `plan`, whose index entries take `index_bytes` (each name and its
// 9 bytes), as ArchiveWriter::write does, to `target` through `calls`. The
// plan must fit the format (below 4 GiB) and its names have been judged.
WriteOutcome write_archive(const EntryPlan& plan, std::uint64_t index_bytes, const char* target,
                           WriteCalls& calls, WriteObserver* observer);

class ArchiveWriter : private EntryPlan {
public:
    // Names are judged for extraction in `style`, byte by byte.
    explicit ArchiveWriter(PathStyle style);

    // Plans the next entry. The bytes are copied; a file is looked at now
    // for its size and read when written (its size then must be the same);
    // a source's bytes are read when written, and it must outlive write().
    // A name `as_stored` is an archive's own, kept as it is: not judged.
    WriteFault add_bytes(std::string_view name, const void* data, std::uint32_t size, WriteOutcome* outcome,
                         bool as_stored = false);
    WriteFault add_file(std::string_view name, const char* path, WriteOutcome* outcome, bool as_stored = false);
    WriteFault add_source(std::string_view name, const ArchiveSource& source, std::uint64_t offset,
                          std::uint32_t size, WriteOutcome* outcome, bool as_stored = false);

    // write() then puts the new archive in place of the file at its target,
    // which `locked` holds (made_open_for_change, locked), keeping that
    // file's permissions. `locked` is closed by write(), whatever happens.
    void replace(FileHandle locked) { replacing_ = locked; }

    std::uint32_t count() const override { return static_cast<std::uint32_t>(entries_.size()); }

    // Writes the planned archive to `target`, which must not exist. The
    // plan stays as it was.
    WriteOutcome write(const char* target, WriteObserver* observer) const;

private:
    struct Planned {
        std::uint64_t where;  // in its blob, its path's place in paths_, or in its source
        std::uint32_t nameAt;
        std::uint32_t nameLength;
        std::uint32_t size;
        std::uint32_t from;  // FROM_BYTES, FROM_FILE, or a source's number
    };
    static constexpr std::uint32_t FROM_BYTES = UINT32_MAX;
    static constexpr std::uint32_t FROM_FILE = UINT32_MAX - 1;

    // The judged entry with `name` by the game's rule, or none.
    const Planned* judged_named(std::string_view name) const;
    void remember(std::uint32_t k);  // may throw std::bad_alloc
    WriteFault plan(std::string_view name, std::uint32_t size, std::uint32_t from, std::uint64_t where,
                    WriteOutcome* outcome, bool as_stored);
    PlannedEntry entry(std::uint32_t k) const override;
    std::string_view name_of(const Planned& entry) const {
        return std::string_view(names_).substr(entry.nameAt, entry.nameLength);
    }

    PathStyle style_;
    std::vector<Planned> entries_;
    std::string names_;
    std::string paths_;
    std::vector<std::unique_ptr<std::uint8_t[]>> blobs_;
    std::vector<ArchiveSource> sources_;
    // The judged names by the game's rule, open addressing: an entry's
    // number + 1, 0 for none; at most half full.
    std::vector<std::uint32_t> slots_;
    std::uint32_t judged_ = 0;
    std::uint64_t indexBytes_ = 0;
    std::uint64_t dataBytes_ = 0;
    FileHandle replacing_ = INVALID_FILE;
};
