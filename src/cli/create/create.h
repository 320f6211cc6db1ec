// Building a new archive from every file below an input directory, in two
// passes over the same walk: the index pass records each file's name and
// size, the data pass copies the bytes and fills in where they went.
#pragma once

#include <cstdio>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/platform.h"

inline constexpr std::size_t INDEX_CAPACITY = 1048576;

// Closes and removes the archive this run has made so far, for a run that
// ends part way.
void abandon_archive();

// The walks that follow leave out the file at `archive_path` (the archive
// being written, or read and replaced) wherever they meet it, with a
// "Skipping" line in the index pass: it is never its own input.
void leave_out_of_walk(const char* archive_path);

// The walks that follow have the looks of their index pass's listings
// shared by the workers of `helpers` (null: none, as without threads).
void share_walk_with(WorkPool* helpers);
WorkPool* walk_helpers();

// What a walk does with the files it meets: the index pass records each
// one's name and size, the data pass copies its bytes.
class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    // Whether the listings are to give the files' sizes.
    virtual bool wants_sizes() const = 0;
    // The file at `path`, below the walked directory, of the listing's
    // `size` (0 where sizes were not asked for): 1, or 0 after printing
    // why the walk stops.
    virtual int file(const char* path, std::uint64_t size) = 0;
    // The archive itself, met at `path` and passed over.
    virtual void archive_met(const char*) {}
};

// Visits every file below `dir` (names beginning with '.' are passed over),
// depth first, in listing order, entering at most WALK_FOLDER_LIMIT
// directories (walk_folder). 1, or 0 after printing why.
int walk_tree(const char* dir, TreeVisitor& visitor);

// Index pass: appends the entry for the file at `path` (which lies below the
// input directory) with `size` bytes. 1, or 0 after printing why; ends the
// run when the index is full.
int add_index_entry(const char* path, std::uint64_t size);

// Data pass: appends the bytes of the file at `path` to the archive and
// records their offset in entry `index`. 1, or 0 (the walk then reports it).
int add_file_data(std::uint32_t index, const char* path);

// Copies the `size` bytes of an input file, from its start, to `target`
// (an archive being written), and finds that the file ends there: 1, or 0
// after printing why (it could not be read, it shrank or grew, or the
// archive could not be written).
int copy_file_data(FileHandle file, FileHandle target, std::uint32_t size, void* buffer,
                   std::uint32_t buffer_size);

// Whether a read of one byte more than a file's `size`, which `read` says
// succeeded with `got` bytes, found the file as listed: 1, or 0 after
// printing why not (it could not be read, it shrank or grew).
int read_as_listed(bool read, std::uint32_t got, std::uint32_t size);

// 1 when the archive was built from `input_dir` and written whole, its
// small files read ahead by the workers of walk_helpers(); 0 after
// printing why, the archive removed. A built archive stays open until the
// run knows its outcome: keep_archive, or abandon_archive when the run
// fails after all (its output was lost).
int create_archive(const char* archive_path, const char* input_dir);

// The index pass alone, with no archive made: the files below `input_dir`
// as CREATE would store them, with its refusals and limits but for its
// index's size, for commands that hold a tree against an archive: a folder
// of any size, its names held in blocks of INDEX_CAPACITY bytes. 1, or 0
// after printing why.
int index_tree(const char* input_dir);

// A file that index_tree met.
struct WalkedFile {
    std::string_view name;  // the name CREATE would store (terminated)
    const char* path;       // relative to the input directory, in local form
    std::uint32_t size;
};

// The files index_tree met, in walk order; valid until the process ends or
// another build starts.
std::vector<WalkedFile> walked_files();

// Closes the built archive, which stays.
void keep_archive();

// The input directory `typed` made absolute into `input_dir` (PATH_CAPACITY
// bytes) and shown on an "Import directory" line; ends the run after saying
// why it cannot be.
void resolve_input_directory(const char* typed, char* input_dir);

// The CREATE command; ends the run.
[[noreturn]] void create_command(int argc, char** argv, std::FILE* data);
