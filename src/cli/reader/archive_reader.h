// An archive read through its index window: a value, so that nothing of it
// is the process's. It opens and validates an archive as the command line
// needs it (the header's tests in their fixed order, the index never held
// whole), and walks the index from a cursor. It prints nothing: it returns
// what it met, and the caller words it.
#pragma once

#include <cstdint>
#include <string_view>

#include "lib/format/big_format.h"
#include "lib/format/header_check.h"
#include "lib/format/index_window.h"
#include "platform/platform.h"

struct ArchiveReader {
    FileHandle handle = INVALID_FILE;
    BigHeader header{};
    bool indexed = false;  // validated, and the index can be walked
    IndexWindow window;
    // The entry reached last, so that walking the index in order is linear.
    std::uint32_t cursorNumber = 0;
    std::uint32_t cursorAt = 0;
    // The name of the entry that reader_entry gave last, at the cursor.
    bool entryGiven = false;
    std::uint32_t nameLength = 0;
};

// Opens the archive at `path` with `mode` and validates it. A failed open
// keeps what it acquired until reader_close.
OpenFault reader_open(ArchiveReader& reader, const char* path, OpenMode mode);

enum class EntryStatus { found, missing, read_failed };

// Entry n, walking on from the cursor (from the start when n lies behind
// it); missing when n is not below fileCount or the index ends first. The
// entry is valid until the reader's next call.
EntryStatus reader_entry(ArchiveReader& reader, std::uint32_t n, BigEntry* entry);

// The name of the entry given last from byte `offset` on (see
// entry_name_piece in reader.h); found and empty past its end.
EntryStatus reader_name_piece(ArchiveReader& reader, std::uint32_t offset, std::string_view* piece);

// The next reader_entry(place.number) starts at index offset `at`.
void reader_return_to(ArchiveReader& reader, std::uint32_t number, std::uint32_t at);

void reader_close(ArchiveReader& reader);
