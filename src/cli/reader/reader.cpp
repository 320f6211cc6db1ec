// The archive reader; see reader.h.
#include "cli/reader/reader.h"

#include <cstdio>

#include "cli/main/held_elsewhere.h"
#include "cli/reader/archive_reader.h"

namespace {

// The one archive a run reads, from open_archive to close_archive.
ArchiveReader open_state;
bool lookup_failed = false;

void print_fault(OpenFault fault) {
    std::printf("Error: %s\n", open_fault_text(fault));
}

void print_read_failed() {
    print_fault(OpenFault::cannot_read);
}

}  // namespace

int open_archive(const char* path, OpenMode mode) {
    if (open_state.handle != INVALID_FILE) {
        return 0;
    }
    OpenFault fault = reader_open(open_state, path, mode);
    if (fault != OpenFault::none) {
        print_fault(fault);
        if (fault == OpenFault::cannot_open) {
            say_if_held_elsewhere(path);
        }
        return 0;
    }
    return 1;
}

int get_header(BigHeader* out) {
    if (open_state.handle == INVALID_FILE || !open_state.indexed) {
        return 0;
    }
    *out = open_state.header;
    return 1;
}

std::optional<BigEntry> find_entry_quietly(std::uint32_t n) {
    lookup_failed = false;
    BigEntry entry;
    switch (reader_entry(open_state, n, &entry)) {
    case EntryStatus::found: return entry;
    case EntryStatus::missing: return std::nullopt;
    case EntryStatus::read_failed:
        lookup_failed = true;
        return std::nullopt;
    }
    return std::nullopt;
}

void print_index_unreadable() {
    print_read_failed();
}

std::optional<BigEntry> find_entry(std::uint32_t n) {
    std::optional<BigEntry> entry = find_entry_quietly(n);
    if (lookup_failed) {
        print_read_failed();
    }
    return entry;
}

FileHandle archive_file() {
    return open_state.handle;
}

bool entry_lookup_failed() {
    return lookup_failed;
}

std::optional<std::string_view> entry_name_piece(std::uint32_t offset) {
    std::string_view piece;
    if (reader_name_piece(open_state, offset, &piece) != EntryStatus::found) {
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
    reader_return_to(open_state, place.number, place.at);
}

void close_archive() {
    reader_close(open_state);
    lookup_failed = false;
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
