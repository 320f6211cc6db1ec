// The index of an open archive, read through a window of fixed size instead
// of being held whole. Whatever the header claims or the names' lengths, the
// window never holds more than its capacity: a name longer than that is
// handed out by its start and its length, and read on in pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "lib/format/big_format.h"
#include "platform/platform.h"

// Reads up to `count` bytes at `offset` of the archive: 1 with *got (fewer
// only at its end), 0 when it could not be read.
using IndexRead = int (*)(void* context, std::uint32_t offset, void* buffer, std::uint32_t count,
                          std::uint32_t* got);

struct IndexWindow {
    IndexRead read = nullptr;
    void* context = nullptr;
    std::uint32_t indexStart = 0;   // file offset of the index's first byte
    std::uint32_t indexLength = 0;  // index bytes that the file holds
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t size = 0;  // bytes allocated: the capacity
    std::uint32_t from = 0;  // index offset of bytes[0]
    std::uint32_t held = 0;  // index bytes in `bytes`
};

enum class WindowStatus {
    found,
    missing,      // the entry, or its name's terminator, lies beyond the index
    read_failed,  // the file could not be read
};

// Makes the window read the index of `index_length` bytes at `index_start`
// of `file` through `capacity` bytes (at least an entry's fixed size); an
// index that would end past 4 GiB ends there. 1, or 0 when the memory was
// not there. Nothing is read yet.
int window_open(IndexWindow& window, FileHandle file, std::uint32_t index_start,
                std::uint32_t index_length, std::uint32_t capacity);

// The same over the caller's reads of the archive: `read` with `context`.
int window_open_reader(IndexWindow& window, IndexRead read, void* context, std::uint32_t index_start,
                       std::uint32_t index_length, std::uint32_t capacity);

// Reads the window's worth of the index's first bytes, which is all of a
// small index. 1, or 0 when the file could not be read.
int window_preload(IndexWindow& window);

// The entry that starts at index offset `at`. Reads from the file whatever
// the window does not hold yet, seeking first (a file's other users may
// have moved it). *entry points into the window and is valid until the next
// call. A read that ends early means the file ended: the index ends there.
// A name that does not fit the window is searched for its terminator in
// window-sized reads; the entry then holds as much of it as the window does.
WindowStatus window_entry(IndexWindow& window, std::uint32_t at, BigEntry* entry);

// The index bytes from `at` on, `count` of them or as many as the window
// holds, reading them unless it holds them already. *bytes is valid until
// the next call. Missing when the index ends before `count` bytes, or
// before the window's worth of them.
WindowStatus window_bytes(IndexWindow& window, std::uint32_t at, std::uint32_t count,
                          std::string_view* bytes);

// Releases the memory; the file stays open.
void window_close(IndexWindow& window);
