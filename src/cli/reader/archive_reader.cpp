// See archive_reader.h.
#include "cli/reader/archive_reader.h"

#include "lib/text/limits.h"

OpenFault reader_open(ArchiveReader& reader, const char* path, OpenMode mode) {
    FileHandle file = file_open(path, mode);
    if (file == INVALID_FILE) {
        return OpenFault::cannot_open;
    }
    reader.handle = file;

    // A short header is judged as it stands: the missing bytes stay zero.
    std::uint8_t bytes[HEADER_SIZE] = {};
    std::uint32_t got = 0;
    std::uint64_t actual_size = 0;
    if (!file_read(file, bytes, HEADER_SIZE, &got) || !file_size(file, &actual_size)) {
        return OpenFault::cannot_read;
    }
    BigHeader header = decode_header(bytes);
    if (OpenFault fault = judge_header(header, actual_size); fault != OpenFault::none) {
        return fault;
    }
    // Read a window at a time, so that neither the index's claimed length
    // nor its real one costs memory.
    if (!window_open(reader.window, file, HEADER_SIZE, index_length(header, actual_size), INDEX_WINDOW)) {
        return OpenFault::no_memory;
    }
    if (!window_preload(reader.window)) {
        return OpenFault::cannot_read;
    }
    reader.header = header;
    reader.indexed = true;
    reader.cursorNumber = 0;
    reader.cursorAt = 0;
    return OpenFault::none;
}

EntryStatus reader_entry(ArchiveReader& reader, std::uint32_t n, BigEntry* entry) {
    reader.entryGiven = false;
    if (!reader.indexed || n >= static_cast<std::uint32_t>(reader.header.fileCount)) {
        return EntryStatus::missing;
    }
    if (n < reader.cursorNumber) {
        reader.cursorNumber = 0;
        reader.cursorAt = 0;
    }
    for (;;) {
        switch (window_entry(reader.window, reader.cursorAt, entry)) {
        case WindowStatus::found: break;
        case WindowStatus::missing: return EntryStatus::missing;
        case WindowStatus::read_failed: return EntryStatus::read_failed;
        }
        if (reader.cursorNumber == n) {
            reader.entryGiven = true;
            reader.nameLength = entry->nameLength;
            return EntryStatus::found;
        }
        // Inside the index: the window found the entry's terminator there.
        reader.cursorAt += static_cast<std::uint32_t>(ENTRY_FIXED_SIZE) + entry->nameLength;
        ++reader.cursorNumber;
    }
}

EntryStatus reader_name_piece(ArchiveReader& reader, std::uint32_t offset, std::string_view* piece) {
    if (!reader.entryGiven || offset >= reader.nameLength) {
        *piece = std::string_view();
        return EntryStatus::found;
    }
    // Inside the index, as the name's terminator is.
    std::uint32_t at = reader.cursorAt + static_cast<std::uint32_t>(ENTRY_NAME_AT) + offset;
    return window_bytes(reader.window, at, reader.nameLength - offset, piece) == WindowStatus::found
               ? EntryStatus::found
               : EntryStatus::read_failed;
}

void reader_return_to(ArchiveReader& reader, std::uint32_t number, std::uint32_t at) {
    reader.entryGiven = false;
    if (reader.indexed) {
        reader.cursorNumber = number;
        reader.cursorAt = at;
    }
}

void reader_close(ArchiveReader& reader) {
    window_close(reader.window);
    reader.indexed = false;
    reader.entryGiven = false;
    if (reader.handle != INVALID_FILE) {
        file_close(reader.handle);
        reader.handle = INVALID_FILE;
    }
}
