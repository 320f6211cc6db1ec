// The command line's calls for the archives it writes, each counted by the
// test seam, so that its sweeps fail every one in turn and its pauses hold
// the run at the rename: a new file beside the open archive, which takes
// its place (UPDATE, DELETE), or the archive CREATE has made in place.
#pragma once

#include <string>

#include "lib/writer/write_calls.h"

class CountedCalls final : public WriteCalls {
public:
    // To replace the open archive, at `archive_path`: make() makes the new
    // file beside the file that `make`'s target names, finish() puts it in
    // that file's place, releasing the open archive.
    explicit CountedCalls(const char* archive_path) : archive_(archive_path) {}
    // Over `file`, made at `path` already; it stays where it is.
    CountedCalls(FileHandle file, const char* path) : archive_(path), file_(file), path_(path) {}
    CountedCalls(const CountedCalls&) = delete;
    CountedCalls& operator=(const CountedCalls&) = delete;

    WriteOutcome make(const char* target) override;
    bool write_at(std::uint64_t at, const void* bytes, std::uint32_t count) override;
    std::uint64_t copy(FileHandle source, std::uint64_t from, std::uint64_t at, std::uint64_t count) override;
    bool sync() override;
    void discard() override;
    WriteOutcome finish(const char* target) override;

    FileHandle open_input(const char* path) override;
    bool read_input(FileHandle file, std::uint64_t at, void* into, std::uint32_t count, std::uint32_t* got) override;
    void close_input(FileHandle file) override;

private:
    const char* archive_;
    FileHandle file_ = INVALID_FILE;
    std::string path_;
};
