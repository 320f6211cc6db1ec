// Copying entries of the open archive into files below an output directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "lib/format/big_format.h"
#include "platform/platform.h"

// Creates `path` and any missing directories above it. 1 when this call made
// the directory, 0 otherwise (it already existed, or could not be made).
int make_path(const char* path);

// The output directory as typed, resolved into `resolved` (PATH_CAPACITY
// bytes): `resolved`, or null when it does not fit the path buffers (each
// entry is then refused as too long). Ends the run after saying why for a
// device path or a missing current directory. Nothing is made: the caller
// makes it (make_path) where its files go, once it knows it will write.
const char* resolve_output_directory(const char* outdir, char* resolved);

// The check half of extraction: entry n, or none after printing why: an
// entry within fileCount that the index does not hold, an index that could
// not be read, a name that is unsafe to extract or too long for any path.
// Nothing is created.
std::optional<BigEntry> entry_to_extract(std::uint32_t n);

// Whether the entry's target below `directory` fits the path buffers; if
// not, 0 after refusing it as write_entry would.
int target_fits(const BigEntry& entry, const char* directory);

// The write half: entry n's file below `directory` (resolved; null when it
// could not be), with its "Extracting" line, its folders and its data. 1,
// or 0 after printing why.
int write_entry(std::uint32_t n, const BigEntry& entry, const char* directory);

// Copies entry n to `directory`, the output directory as resolved (null
// when it could not be), joined with the entry's name: both halves. The
// entry on success; none after printing why (nothing is printed when no
// archive is open).
std::optional<BigEntry> extract_entry(std::uint32_t n, const char* directory);

// The copy buffer that extraction's writes share; 1, or 0 after printing
// that its memory could not be had.
int copy_buffer_ready();
void* copy_buffer();

// The entries of one EXTRACT or GET, extract_entry's and write_entry's
// work: on this thread alone with one thread, as always; with more, each
// file made, written and closed by a worker while this thread reads the
// index, checks names, makes folders and prints every line, in the
// entries' order, once its outcome is in. False after printing why the
// run must stop; the files of the jobs in flight are then written whole.
class Extraction {
public:
    explicit Extraction(unsigned threads);
    ~Extraction();
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    bool extract(std::uint32_t n, const char* directory);
    bool write(std::uint32_t n, const BigEntry& entry, const char* directory);
    // walked_entry's entry n, its refusal printed after every earlier line.
    BigEntry walked(std::uint32_t n);
    // "Skipping index number n", in its place among the lines.
    void skip(std::uint32_t n);
    // Every line printed: false after a failure's.
    bool finish();

private:
    // The lines of the entries handed to workers, or to be printed in their
    // place, oldest first; a job's entry takes its outcome from the jobs.
    struct Pending {
        bool skipped = false;  // "Skipping index number", no job
        std::uint32_t n = 0;
        std::string line;
        std::string quoted;
    };
    struct Workers;
    bool take_back_one();
    bool take_back_all();
    void stop();

    std::unique_ptr<Workers> workers_;  // none with one thread
    std::deque<Pending> pending_;
};

// The EXTRACT command: argv[3] .. argv[argc-2] choose entries, argv[argc-1]
// is the output directory. Ends the run.
[[noreturn]] void extract_command(int argc, char** argv, std::FILE* data);

// The GET command: argv[3] .. argv[argc-2] are name patterns, argv[argc-1]
// the output directory, or "-" for standard output, which `data` then
// writes to (null otherwise). Ends the run.
[[noreturn]] void get_command(int argc, char** argv, std::FILE* data);
