// Whether a file can be an archive, judged from its header and its size:
// the same tests, in the same order, for the command line's reader and the
// library's handles.
#pragma once

#include <cstdint>

#include "lib/format/big_format.h"

enum class OpenFault {
    none,
    cannot_open,
    cannot_read,
    not_archive,
    size_mismatch,
    no_files,
    bad_start_offset,
    no_memory,
    count_mismatch,  // the index ends before the header's count of entries
};

// The message of a fault, as the reader prints it after "Error: ".
const char* open_fault_text(OpenFault fault);

// The first test that the header fails, magic, size, count, start offset
// in that order; none when it passes them all. A file of 4 GiB or more
// cannot be an archive, whatever its size's low 32 bits happen to match.
OpenFault judge_header(const BigHeader& header, std::uint64_t actual_size);

// The bytes of the index: what lies between the header and startOffset,
// but never more than the file holds. For a header that passed.
std::uint32_t index_length(const BigHeader& header, std::uint64_t actual_size);
