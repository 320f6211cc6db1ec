// The open archive: one per process, the command line's, over one
// ArchiveReader (archive_reader.h). open_archive validates the header
// against the file; find_entry walks the index, which is read from the file
// through a window of fixed size (index_window.h), never held whole. These
// print what the reader met, in the fixed words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "lib/format/big_format.h"
#include "platform/platform.h"

// 1 when the archive at `path` was opened as `mode` says (read_existing to
// read it, change_existing to replace it) and the start of its index read;
// 0 after printing why (every message ends a "Validating" line), or, with
// no message, when an archive is open already.
int open_archive(const char* path, OpenMode mode = OpenMode::read_existing);

// 1 and the decoded header; 0, leaving *out alone, when nothing is open.
int get_header(BigHeader* out);

// Entry n counting from 0, or none when nothing is open, n is not below
// fileCount, or the entry lies beyond the index that the file holds.
// Consecutive calls continue from the previous entry; a call for an entry
// before it walks from the start. The entry is valid until the next call to
// the reader, entry_name_piece included. Its name may be only the start of
// a long one (entry_name_is_whole); entry_name_piece reads the rest.
std::optional<BigEntry> find_entry(std::uint32_t n);

// find_entry, saying nothing when the index cannot be read: the caller
// says it later (print_index_unreadable), in its place among its lines.
std::optional<BigEntry> find_entry_quietly(std::uint32_t n);
void print_index_unreadable();

// The open archive's handle, INVALID_FILE when none is open.
FileHandle archive_file();

// Whether the last find_entry gave none because the index could not be read
// (after printing why), rather than because the entry is not in the index.
bool entry_lookup_failed();

// The name of the entry that find_entry gave last, from byte `offset` on:
// as many bytes as the index window holds, up to the name's end (empty from
// its end on, or when find_entry gave none). A piece that does not reach the
// name's end is at least an entry's fixed size long. None after printing
// why when the index could not be read.
std::optional<std::string_view> entry_name_piece(std::uint32_t offset);

// Where an entry starts in the index.
struct EntryPlace {
    std::uint32_t number;
    std::uint32_t at;  // offset in the index
};

// Entry n's place, found as find_entry finds the entry; none when it gives none.
std::optional<EntryPlace> find_entry_place(std::uint32_t n);

// The next find_entry(place.number) starts at `place` instead of walking:
// a caller that needs entries out of order finds their places in one walk.
void return_to_entry(EntryPlace place);

// Whether the data of `entry` lies inside the archive as validated: it ends
// by archiveSize, without wrapping past 4 GiB.
bool entry_data_inside(const BigEntry& entry);

enum class DataCopy {
    copied,
    seek_failed,
    read_failed,  // the archive could not be read, or ended first
    write_failed,
};

// Copies the data of `entry` to `target` (a file, or standard output)
// through `buffer` of `buffer_size` bytes. Take the entry before anything
// else moves the window: entry_name_piece invalidates it.
DataCopy copy_entry_data(const BigEntry& entry, FileHandle target, void* buffer,
                         std::uint32_t buffer_size);

// Copies `size` bytes of the archive from `offset` on to `target` in the
// same way: kept data of an archive being rewritten, many entries at once.
DataCopy copy_archive_data(std::uint32_t offset, std::uint32_t size, FileHandle target, void* buffer,
                           std::uint32_t buffer_size);

// The same to a stdio stream: standard output, taken for data.
DataCopy write_entry_data(const BigEntry& entry, std::FILE* out, void* buffer, std::uint32_t buffer_size);

// Reads up to `count` archive bytes from `offset`: 1 with *got (fewer only
// at the file's end), 0 when the file could not be read there.
int read_archive_data(std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got);

void close_archive();

// Ends the reading as close_archive does, but leaves the archive's file
// open and hands it to the caller, who closes it: a run that replaces the
// archive holds it until the new one has its name. INVALID_FILE when
// nothing is open.
FileHandle release_archive();

bool archive_is_open();
