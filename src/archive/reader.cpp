// The archive reader; see reader.h.
#include "archive/reader.h"

#include <cstdio>
#include <memory>
#include <new>

namespace {

struct OpenArchive {
    FileHandle handle = INVALID_FILE;
    BigHeader header{};
    std::unique_ptr<std::uint8_t[]> index;
    std::size_t indexLength = 0;  // bytes actually read, never more than the file holds
    // The last entry handed out, so that walking the index in order is linear.
    std::uint32_t cursorNumber = 0;
    std::size_t cursorAt = 0;
};

OpenArchive open_state;

std::span<const std::uint8_t> loaded_index() {
    return {open_state.index.get(), open_state.indexLength};
}

}  // namespace

int open_archive(const char* path) {
    if (open_state.handle != INVALID_FILE) {
        return 0;
    }
    FileHandle file = file_open(path, OpenMode::read_existing);
    if (file == INVALID_FILE) {
        std::printf("Error: Could not open file.\n");
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
    // more than the file holds: a lying startOffset must not cost memory.
    std::uint64_t claimed = header.startOffset - HEADER_SIZE;
    std::uint64_t present = actual_size > HEADER_SIZE ? actual_size - HEADER_SIZE : 0;
    auto length = static_cast<std::uint32_t>(claimed < present ? claimed : present);
    std::unique_ptr<std::uint8_t[]> index(new (std::nothrow) std::uint8_t[length ? length : 1]);
    if (!index) {
        return 0;
    }
    got = 0;
    if (length > 0 && !file_read(file, index.get(), length, &got)) {
        std::printf("Error: Could not read file.\n");
        return 0;
    }
    open_state.header = header;
    open_state.index = std::move(index);
    open_state.indexLength = got;
    open_state.cursorNumber = 0;
    open_state.cursorAt = 0;
    return 1;
}

int get_header(BigHeader* out) {
    if (open_state.handle == INVALID_FILE || !open_state.index) {
        return 0;
    }
    *out = open_state.header;
    return 1;
}

std::optional<BigEntry> find_entry(std::uint32_t n) {
    if (open_state.handle == INVALID_FILE || !open_state.index ||
        n >= static_cast<std::uint32_t>(open_state.header.fileCount)) {
        return std::nullopt;
    }
    if (n < open_state.cursorNumber) {
        open_state.cursorNumber = 0;
        open_state.cursorAt = 0;
    }
    std::span<const std::uint8_t> index = loaded_index();
    std::optional<BigEntry> entry = entry_at(index, open_state.cursorAt);
    while (entry && open_state.cursorNumber < n) {
        open_state.cursorAt = entry_end(index, *entry);
        ++open_state.cursorNumber;
        entry = entry_at(index, open_state.cursorAt);
    }
    return entry;
}

void close_archive() {
    open_state.index.reset();
    open_state.indexLength = 0;
    if (open_state.handle != INVALID_FILE) {
        file_close(open_state.handle);
        open_state.handle = INVALID_FILE;
    }
}

int archive_is_open() {
    return open_state.handle != INVALID_FILE;
}

FileHandle archive_handle() {
    return open_state.handle;
}
