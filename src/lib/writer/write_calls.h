// The calls to the system that a write of an archive makes: the new file
// made beside the target, filled, synced and given the target's name, and
// the files its entries' data is read from. SystemCalls makes them
// directly; the command line brings calls its test seam counts, and names
// its new files its own way.
#pragma once

#include <cstdint>
#include <string>

#include "lib/writer/write_outcome.h"
#include "platform/platform.h"

class WriteCalls {
public:
    virtual ~WriteCalls() = default;

    // Makes the new file for `target`: none, or why not (exists,
    // create_failed). The calls below are about that file.
    virtual WriteOutcome make(const char* target) = 0;
    // Writes all `count` bytes at `at`.
    virtual bool write_at(std::uint64_t at, const void* bytes, std::uint32_t count) = 0;
    // Has the system copy up to `count` bytes of `source` (a plain file)
    // from `from` to `at`: the bytes it copied, fewer (even none) where it
    // cannot; the writer carries on through its buffer.
    virtual std::uint64_t copy(FileHandle source, std::uint64_t from, std::uint64_t at, std::uint64_t count) = 0;
    virtual bool sync() = 0;
    // Closes the new file and removes it.
    virtual void discard() = 0;
    // Gives the whole, synced file the name `target`: none, or why not.
    virtual WriteOutcome finish(const char* target) = 0;

    // An input file: opened with its size, read at offsets, closed.
    virtual FileHandle open_input(const char* path) = 0;
    virtual bool read_input(FileHandle file, std::uint64_t at, void* into, std::uint32_t count,
                            std::uint32_t* got) = 0;
    virtual void close_input(FileHandle file) = 0;
};

// The library's own: a new file under a name no file has, beside a target
// that must not exist, or that `replacing` holds (made_open_for_change,
// locked), whose permissions it then takes and whose place it takes.
// `replacing` is closed when these calls end, whatever happens.
class SystemCalls final : public WriteCalls {
public:
    explicit SystemCalls(FileHandle replacing) : replacing_(replacing) {}
    ~SystemCalls() override;
    SystemCalls(const SystemCalls&) = delete;
    SystemCalls& operator=(const SystemCalls&) = delete;

    WriteOutcome make(const char* target) override;
    bool write_at(std::uint64_t at, const void* bytes, std::uint32_t count) override {
        return made_file_write_at(file_, at, bytes, count) != 0;
    }
    std::uint64_t copy(FileHandle source, std::uint64_t from, std::uint64_t at, std::uint64_t count) override {
        return made_file_copy(source, from, file_, at, count);
    }
    bool sync() override { return made_file_sync(file_) != 0; }
    void discard() override;
    WriteOutcome finish(const char* target) override;

    FileHandle open_input(const char* path) override {
        std::uint64_t size = 0;
        return file_open_shared(path, &size);
    }
    bool read_input(FileHandle file, std::uint64_t at, void* into, std::uint32_t count,
                    std::uint32_t* got) override {
        return file_read_at(file, at, into, count, got) != 0;
    }
    void close_input(FileHandle file) override { file_close_shared(file); }

private:
    FileHandle replacing_;
    FileHandle file_ = INVALID_FILE;
    std::string path_;
};
