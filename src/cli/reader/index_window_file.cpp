// The index window over a file of the platform layer: the command line's
// reader. Kept apart so that the window itself needs no system.
#include "lib/format/index_window.h"

namespace {

// A file's reads: seek, then read, as its other users may have moved it.
int read_file(void* context, std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    auto file = reinterpret_cast<FileHandle>(context);
    std::uint32_t position = 0;
    if (!file_seek(file, offset, &position) || position != offset) {
        return 0;
    }
    *got = 0;
    return count == 0 || file_read(file, buffer, count, got);
}

}  // namespace

int window_open(IndexWindow& window, FileHandle file, std::uint32_t index_start,
                std::uint32_t index_length, std::uint32_t capacity) {
    return window_open_reader(window, read_file, reinterpret_cast<void*>(file), index_start, index_length,
                              capacity);
}
