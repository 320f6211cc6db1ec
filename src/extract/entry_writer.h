// Extraction of one entry into a file below a directory, with its
// guarantees: a name that is safe, a path below the directory, never
// through a link, never two entries into one file, never over the archive.
// It prints nothing and keeps nothing of the process's: a run's state is
// the caller's ExtractionRun, and the system is reached through the
// caller's EntryFiles (the command line's platform calls, or the library's).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/limits.h"
#include "common/path_style.h"
#include "common/written_files.h"
#include "platform/platform.h"

// How extraction's steps fail.
enum class WriteFault {
    none,
    too_long,           // the target does not fit the path buffers
    link,               // a folder below the directory is a link: run.target is cut after it
    create_failed,      // the target could not be created (run.target)
    other_entrys_file,  // it is the file that entry run.otherEntry went into
    no_memory,
    seek_failed,
    read_failed,  // or the archive ended first
    write_failed,
};

// The system as one run of extraction uses it, and what it tells its
// caller as it goes.
class EntryFiles {
public:
    virtual PathKind kind(const char* path) = 0;
    virtual MakeDirStatus make_directory(const char* path) = 0;
    // Opens the target as OpenMode::create_or_reuse says, refusing the
    // archive itself; INVALID_FILE when it cannot.
    virtual FileHandle open(const char* path, FileIdentity* identity) = 0;
    virtual int empty(FileHandle file) = 0;
    // Entry n's data into `file` through `buffer`: none, seek_failed,
    // read_failed or write_failed.
    virtual WriteFault copy(std::uint32_t n, FileHandle file, void* buffer, std::uint32_t size) = 0;
    virtual int flush(FileHandle file) = 0;
    virtual void close(FileHandle file) = 0;
    // Entry n is about to be written to `target`: its folders, its file.
    virtual void starting(std::uint32_t n, const char* target) = 0;

protected:
    ~EntryFiles() = default;
};

// What one run keeps from one entry to the next: one copy buffer; the
// folder of the previous target, which the next need not look at or make
// again; the files written, so that no two entries go into one.
struct ExtractionRun {
    PathStyle style = PathStyle::posix;
    const LeadBytes* lead = &NO_LEAD_BYTES;
    std::unique_ptr<std::uint8_t[]> copyBuffer;
    char lastChecked[PATH_CAPACITY] = "";
    char lastMade[PATH_CAPACITY] = "";
    WrittenFiles written;
    char target[PATH_CAPACITY] = "";  // the last entry's, as a fault speaks of it
    std::uint32_t otherEntry = 0;
};

enum class NameCheck { safe, unsafe, too_long };

// Whether an entry's name may be extracted: decided from the name alone,
// before anything is made. `whole` is false for a name cut short by the
// index window, judged by its start and too long for any path.
NameCheck check_entry_name(std::string_view name, bool whole, PathStyle style, const LeadBytes& lead,
                           bool in_code_page);

// Creates `path` and any missing directories above it. 1 when this call
// made the directory, 0 otherwise (it already existed, or could not be made).
int make_path(EntryFiles& files, const char* path, PathStyle style, const LeadBytes& lead);

// The run's copy buffer, allocated on first use: 1, or 0 without memory.
int copy_buffer_ready(ExtractionRun& run);

// Whether the entry's target below `directory` fits the path buffers;
// the target is left in run.target.
bool target_fits(ExtractionRun& run, std::string_view name, const char* directory);

// Writes entry n (its stored `name`) to its file below `directory`: the
// target's folders, the file, its data. The same entry may be written
// again in one run; another may not go into its file.
WriteFault write_entry_file(ExtractionRun& run, EntryFiles& files, std::uint32_t n, std::string_view name,
                            const char* directory);
