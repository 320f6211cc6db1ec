// The archive reader; see reader.h.
#include "archive/reader.h"

#include <cstdio>

#include "archive/index_window.h"
#include "common/held_elsewhere.h"
#include "common/limits.h"

namespace {

// The one archive a run reads, from open_archive to close_archive.
struct OpenArchive {
    FileHandle handle = INVALID_FILE;
    BigHeader header{};
    bool indexed = false;  // validated, and the index can be walked
    IndexWindow window;
    // The entry reached last, so that walking the index in order is linear.
    std::uint32_t cursorNumber = 0;
    std::uint32_t cursorAt = 0;
    bool lookupFailed = false;
    // The name of the entry find_entry gave last, at the cursor, for its pieces.
    bool entryGiven = false;
    std::uint32_t nameLength = 0;
};

OpenArchive open_state;

void print_read_failed() {
    std::printf("Error: Could not read file.\n");
}

}  // namespace

int open_archive(const char* path, OpenMode mode) {
    if (open_state.handle != INVALID_FILE) {
        return 0;
    }
    FileHandle file = file_open(path, mode);
    if (file == INVALID_FILE) {
        std::printf("Error: Could not open file.\n");
        say_if_held_elsewhere(path);
        return 0;
    }
    open_state.handle = file;

    // A short header is judged as it stands: the missing bytes stay zero.
    std::uint8_t bytes[HEADER_SIZE] = {};
    std::uint32_t got = 0;
    std::uint64_t actual_size = 0;
    if (!file_read(file, bytes, HEADER_SIZE, &got) || !file_size(file, &actual_size)) {
        std::printf("Error: Could not read file.\n");
        return 0;
    }
    BigHeader header = decode_header(bytes);
    if (header.magic != BIG_MAGIC) {
        std::printf("Error: This is not a tarvenor BIG file.\n");
        return 0;
    }
    // A file of 4 GiB or more cannot be an archive, whatever its size's low
    // 32 bits happen to match.
    if (actual_size > UINT32_MAX || header.archiveSize != actual_size) {
        std::printf("Error: Header filesize mismatch.\n");
        return 0;
    }
    if (header.fileCount < 1) {
        std::printf("Error: Does not contain any file.\n");
        return 0;
    }
    if (header.startOffset < HEADER_SIZE) {
        std::printf("Error: Invalid start offset.\n");
        return 0;
    }

    // The index is what lies between the header and startOffset, but never
    // more than the file holds; it is read a window at a time, so neither
    // costs memory.
    std::uint64_t claimed = header.startOffset - HEADER_SIZE;
    std::uint64_t present = actual_size > HEADER_SIZE ? actual_size - HEADER_SIZE : 0;
    auto length = static_cast<std::uint32_t>(claimed < present ? claimed : present);
    if (!window_open(open_state.window, file, HEADER_SIZE, length, INDEX_WINDOW)) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return 0;
    }
    if (!window_preload(open_state.window)) {
        print_read_failed();
        return 0;
    }
    open_state.header = header;
    open_state.indexed = true;
    open_state.cursorNumber = 0;
    open_state.cursorAt = 0;
    return 1;
}

int get_header(BigHeader* out) {
    if (open_state.handle == INVALID_FILE || !open_state.indexed) {
        return 0;
    }
    *out = open_state.header;
    return 1;
}

// Walks on from the cursor, or from the start when n lies behind it; the
// cursor stays on the last entry reached.
std::optional<BigEntry> find_entry(std::uint32_t n) {
    open_state.lookupFailed = false;
    open_state.entryGiven = false;
    if (!open_state.indexed || n >= static_cast<std::uint32_t>(open_state.header.fileCount)) {
        return std::nullopt;
    }
    if (n < open_state.cursorNumber) {
        open_state.cursorNumber = 0;
        open_state.cursorAt = 0;
    }
    for (;;) {
        BigEntry entry;
        switch (window_entry(open_state.window, open_state.cursorAt, &entry)) {
        case WindowStatus::found: break;
        case WindowStatus::missing: return std::nullopt;
        case WindowStatus::read_failed:
            print_read_failed();
            open_state.lookupFailed = true;
            return std::nullopt;
        }
        if (open_state.cursorNumber == n) {
            open_state.entryGiven = true;
            open_state.nameLength = entry.nameLength;
            return entry;
        }
        // Inside the index: the window found the entry's terminator there.
        open_state.cursorAt += static_cast<std::uint32_t>(ENTRY_FIXED_SIZE) + entry.nameLength;
        ++open_state.cursorNumber;
    }
}

bool entry_lookup_failed() {
    return open_state.lookupFailed;
}

std::optional<std::string_view> entry_name_piece(std::uint32_t offset) {
    if (!open_state.entryGiven || offset >= open_state.nameLength) {
        return std::string_view();
    }
    // Inside the index, as the name's terminator is.
    std::uint32_t at = open_state.cursorAt + static_cast<std::uint32_t>(ENTRY_NAME_AT) + offset;
    std::string_view piece;
    if (window_bytes(open_state.window, at, open_state.nameLength - offset, &piece) !=
        WindowStatus::found) {
        print_read_failed();
        return std::nullopt;
    }
    return piece;
}

std::optional<EntryPlace> find_entry_place(std::uint32_t n) {
    if (!find_entry(n)) {
        return std::nullopt;
    }
    return EntryPlace{open_state.cursorNumber, open_state.cursorAt};
}

void return_to_entry(EntryPlace place) {
    open_state.entryGiven = false;
    if (open_state.indexed) {
        open_state.cursorNumber = place.number;
        open_state.cursorAt = place.at;
    }
}

void close_archive() {
    window_close(open_state.window);
    open_state.indexed = false;
    open_state.lookupFailed = false;
    open_state.entryGiven = false;
    if (open_state.handle != INVALID_FILE) {
        file_close(open_state.handle);
        open_state.handle = INVALID_FILE;
    }
}

FileHandle release_archive() {
    FileHandle file = open_state.handle;
    open_state.handle = INVALID_FILE;
    close_archive();
    return file;
}

bool archive_is_open() {
    return open_state.handle != INVALID_FILE;
}

namespace {

bool seek_archive(std::uint32_t offset) {
    std::uint32_t position = 0;
    return file_seek(open_state.handle, offset, &position) && position == offset;
}

}  // namespace

bool entry_data_inside(const BigEntry& entry) {
    std::uint64_t end = std::uint64_t{entry_data_offset(entry)} + entry_data_size(entry);
    return end <= open_state.header.archiveSize;
}

DataCopy copy_entry_data(const BigEntry& entry, FileHandle target, void* buffer,
                         std::uint32_t buffer_size) {
    return copy_archive_data(entry_data_offset(entry), entry_data_size(entry), target, buffer, buffer_size);
}

DataCopy copy_archive_data(std::uint32_t offset, std::uint32_t size, FileHandle target, void* buffer,
                           std::uint32_t buffer_size) {
    if (!seek_archive(offset)) {
        return DataCopy::seek_failed;
    }
    std::uint64_t copied = 0;
    switch (file_copy(open_state.handle, target, size, buffer, buffer_size, &copied)) {
    case CopyStatus::copied: return DataCopy::copied;
    case CopyStatus::source_ended:
    case CopyStatus::read_failed: return DataCopy::read_failed;
    case CopyStatus::write_failed: return DataCopy::write_failed;
    }
    return DataCopy::read_failed;
}

DataCopy write_entry_data(const BigEntry& entry, std::FILE* out, void* buffer, std::uint32_t buffer_size) {
    if (!seek_archive(entry_data_offset(entry))) {
        return DataCopy::seek_failed;
    }
    for (std::uint32_t left = entry_data_size(entry); left > 0;) {
        std::uint32_t want = left < buffer_size ? left : buffer_size;
        std::uint32_t got = 0;
        if (!file_read(open_state.handle, buffer, want, &got) || got == 0) {
            return DataCopy::read_failed;
        }
        if (std::fwrite(buffer, 1, got, out) != got) {
            return DataCopy::write_failed;
        }
        left -= got;
    }
    return DataCopy::copied;
}

int read_archive_data(std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    return seek_archive(offset) && file_read(open_state.handle, buffer, count, got);
}
