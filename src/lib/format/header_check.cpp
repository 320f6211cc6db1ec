// See header_check.h.
#include "lib/format/header_check.h"

const char* open_fault_text(OpenFault fault) {
    switch (fault) {
    case OpenFault::none: return "";
    case OpenFault::cannot_open: return "Could not open file.";
    case OpenFault::cannot_read: return "Could not read file.";
    case OpenFault::not_archive: return "This is not a tarvenor BIG file.";
    case OpenFault::size_mismatch: return "Header filesize mismatch.";
    case OpenFault::no_files: return "Does not contain any file.";
    case OpenFault::bad_start_offset: return "Invalid start offset.";
    case OpenFault::no_memory: return "Failed to allocate enough memory.";
    case OpenFault::count_mismatch: return "Header file count mismatch.";
    }
    return "";
}

OpenFault judge_header(const BigHeader& header, std::uint64_t actual_size) {
    if (header.magic != BIG_MAGIC) {
        return OpenFault::not_archive;
    }
    if (actual_size > UINT32_MAX || header.archiveSize != actual_size) {
        return OpenFault::size_mismatch;
    }
    if (header.fileCount < 1) {
        return OpenFault::no_files;
    }
    if (header.startOffset < HEADER_SIZE) {
        return OpenFault::bad_start_offset;
    }
    return OpenFault::none;
}

std::uint32_t index_length(const BigHeader& header, std::uint64_t actual_size) {
    std::uint64_t claimed = header.startOffset - HEADER_SIZE;
    std::uint64_t present = actual_size > HEADER_SIZE ? actual_size - HEADER_SIZE : 0;
    return static_cast<std::uint32_t>(claimed < present ? claimed : present);
}
