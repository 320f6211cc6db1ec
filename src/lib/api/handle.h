// What lies behind the public handles, and how a call records its failure:
// on the handle, for its owner, and in the calling thread's slot, for a
// call that has no handle or shares one with other threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "bigtool.h"
#include "lib/reader/archive_table.h"
#include "platform/platform.h"

// A handle's first field while it is open; cleared by its release, so that a
// handle used after it can often be told.
inline constexpr std::uint32_t ARCHIVE_MAGIC = 0x42544152;  // "BTAR"

struct bt_archive {
    std::uint32_t magic = ARCHIVE_MAGIC;
    mutable ArchiveTable table;  // its hash is made by the first lookup
    FileHandle file = INVALID_FILE;  // opened from a path
    bt_read_fn read = nullptr;       // or read by the caller
    void* context = nullptr;
    mutable std::mutex messageLock;
    mutable std::string message;
};

// Takes the file (of `size` bytes) to an open handle in *out, validated,
// or closes it and fails the call.
int open_archive_file(bt_archive** out, FileHandle file, std::uint64_t size);

// Records `message` as the thread's last and, when `archive` is not null,
// the handle's; returns `status`.
int fail(const bt_archive* archive, int status, const std::string& message);

// The handle's message goes back to "" at the start of a call that may fail.
void clear_message(const bt_archive* archive);

// Whether `archive` is an open handle; fails the call with BT_ERR_ARGUMENT
// when it is not.
bool usable(const bt_archive* archive, const char* call);

// Reads `count` bytes at `offset` of the handle's archive, fewer only at
// its end; 1 or 0.
int read_archive(const bt_archive* archive, std::uint64_t offset, void* buffer, std::uint32_t count,
                 std::uint32_t* got);

// The handle's archive as a source of positioned reads (its size unknown: 0).
ArchiveSource archive_source(const bt_archive* archive);

// A name as a message quotes it: cut after the path buffers' length.
std::string quoted(std::string_view name);
