// The open archive: one per process. open_archive validates the header
// against the file and loads the index; find_entry hands out views into it.
#pragma once

#include <cstdint>
#include <optional>

#include "archive/big_format.h"
#include "platform/platform.h"

// 1 when the archive at `path` was opened and its index loaded; 0 after
// printing why (every message ends a "Validating" line).
int open_archive(const char* path);

// 1 and the decoded header; 0, leaving *out alone, when nothing is open.
int get_header(BigHeader* out);

// Entry n counting from 0, or none when nothing is open, n is not below
// fileCount, or the entry lies beyond the loaded index. Consecutive calls
// continue from the previous entry instead of walking from the start.
std::optional<BigEntry> find_entry(std::uint32_t n);

void close_archive();

// Extraction reads entry data through the reader's handle.
int archive_is_open();
FileHandle archive_handle();
