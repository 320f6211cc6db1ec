// The system's own operations, one call each, as the portable half of the
// platform layer (platform.cpp) uses them. posix.cpp and win32.cpp each
// implement all of them for their system. Nothing here counts the test
// seam's operations, loops over short transfers or remembers positions:
// that is done once, in platform.cpp, for every system alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/listed_items.h"
#include "platform/platform.h"

namespace sys {

// Opens `path` as `mode` says, and only a regular file on a disk that this
// process does not hold open already. *size: its size as opened; and, when
// `identity` is not null, which file it is (the open fails if that cannot
// be told).
FileHandle open_file(const char* path, OpenMode mode, std::uint64_t* size,
                     FileIdentity* identity = nullptr);

// Whether the last open_file that failed did so because another process
// holds the file.
bool last_open_held();

using ChangeLock = ::ChangeLock;

// The lock of OpenMode::change_existing on `file`, just opened at `path`.
ChangeLock lock_for_change(FileHandle file, const char* path);

// Opens `path` for reading with the system's open alone (see
// file_open_listed).
FileHandle open_listed(const char* path);

// open_listed from any thread: nothing remembered, nothing of the process's
// state used. *held: the open failed because another program holds the file.
FileHandle open_listed_apart(const char* path, bool* held);

// Opens `path` for reading, blocking (see file_open_stream).
FileHandle open_stream(const char* path);

// Which file `file` is: 1, or 0 when it is no file on a disk (a pipe, a
// device, a console) or the system cannot tell.
int identity(FileHandle file, FileIdentity* identity);

// The system's handle behind a stdio stream.
FileHandle stream_handle(std::FILE* stream);

// One transfer of at most `count` bytes (retried when a signal interrupts
// it): the bytes moved, 0 at the end of the file, -1 on failure. A write
// that moves nothing is a failure.
std::int64_t read_some(FileHandle file, void* buffer, std::uint32_t count);
std::int64_t write_some(FileHandle file, const void* buffer, std::uint32_t count);

// What copy_some returns when it moved nothing.
inline constexpr std::int64_t COPY_STOPPED = 0;        // the source's end or a failed read
inline constexpr std::int64_t COPY_WRITE_FAILED = -1;  // final: nothing more can be written
inline constexpr std::int64_t COPY_REFUSED = -2;       // never between these two files

// Moves up to `count` bytes from the position of `source` to that of
// `target` as the system copies best, inside the kernel where it can
// (`buffer` serves where it cannot). Returns the bytes moved, or one of the
// values above.
std::int64_t copy_some(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                       std::uint32_t buffer_size);

// Cuts the file to nothing; its position stays at the start.
int empty(FileHandle file);
int seek(FileHandle file, std::uint64_t offset, std::uint64_t* position);
int position(FileHandle file, std::uint64_t* position);
int size(FileHandle file, std::uint64_t* size);
int flush(FileHandle file);
void close(FileHandle file);
// The first half of file_discard: takes the name `path` from `file`, which
// this process made and holds. True when `file` is then to be removed:
// *removable is the name to remove it by (POSIX renames it to a fresh name
// beside `path`, then checks that what it moved is `file`), or "" when the
// system removes it by its handle once closed (Windows). False when `path`
// did not name `file`: whatever it named is back under that name, and
// nothing is removed.
bool claim_for_removal(FileHandle file, const char* path, std::string* removable);
// Removes the name `path` (the second half).
void remove_name(const std::string& path);

// Data written reaches the disk.
int sync(FileHandle file);
// The system's half of file_replace: the one-step rename, then, on
// failure, the new file's removal. Closes `file`, and `replaced` (see
// file_replace) as late as the system lets it.
ReplaceStatus replace(FileHandle file, const char* path, const char* target, FileHandle replaced);
// The rename that replaced `target` reaches the disk too.
void sync_folder_of(const char* target);

// Reads the whole listing of `directory` into `listing`, in the order that
// platform.h promises (see dir_open).
// `helpers` as dir_open says; null for none.
ListStatus list_directory(const char* directory, ListDetail detail, DirListing* listing,
                          WorkPool* helpers);
// The listing is closed: it is no longer being walked.
void forget_directory(DirListing* listing);

// The test seam's pause: blocks until the test opens the gate `name` (a
// FIFO on POSIX, a named pipe on Windows) and lets the run go on.
void wait_at_gate(const char* name);

}  // namespace sys
