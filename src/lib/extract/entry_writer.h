// Extraction of one entry into a file below a directory, with its
// guarantees: a name that is safe, a path below the directory, never
// through a link, never two entries into one file, never over the archive.
// It prints nothing and keeps nothing of the process's: a run's state is
// the caller's ExtractionRun, and the system is reached through the
// caller's EntryFiles (the command line's platform calls, or the library's).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "lib/extract/written_files.h"
#include "lib/text/limits.h"
#include "lib/text/path_style.h"
#include "lib/threads/work_pool.h"
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

// Where an entry's data lies in the archive.
struct EntryData {
    std::uint64_t at;
    std::uint32_t size;
};

// The system as one run of extraction uses it, and what it tells its
// caller as it goes. Calls that write a target's file (open to close) may
// come from several threads at once.
class EntryFiles {
public:
    virtual PathKind kind(const char* path) = 0;
    virtual MakeDirStatus make_directory(const char* path) = 0;
    // Opens the target as OpenMode::create_or_reuse says, refusing the
    // archive itself; INVALID_FILE when it cannot. opened->size is the
    // file's size, or any other number when empty() looks for itself.
    virtual FileHandle open(const char* path, TargetOpen* opened) = 0;
    virtual int empty(FileHandle file) = 0;
    // Entry n's data (`data`) into `file` through `buffer`: none,
    // seek_failed, read_failed or write_failed.
    virtual WriteFault copy(std::uint32_t n, EntryData data, FileHandle file, void* buffer, std::uint32_t size) = 0;
    virtual int flush(FileHandle file) = 0;
    virtual void close(FileHandle file) = 0;
    // Entry n is about to be written to `target`: its folders, its file.
    virtual void starting(std::uint32_t n, const char* target) = 0;
    // A job is handed to a worker (its turn for the test seam), and taken
    // up and done there.
    virtual std::uint64_t handing_over() { return 0; }
    virtual void job_begins(std::uint64_t) {}
    virtual void job_ends(std::uint64_t) {}

protected:
    ~EntryFiles() = default;
};

// What one run keeps from one entry to the next: one copy buffer; the
// folder of the previous target, which the next need not look at or make
// again; the files written, so that no two entries go into one (under its
// lock: workers claim their files).
struct ExtractionRun {
    PathStyle style = PathStyle::posix;
    const LeadBytes* lead = &NO_LEAD_BYTES;
    std::unique_ptr<std::uint8_t[]> copyBuffer;
    char lastChecked[PATH_CAPACITY] = "";
    char lastMade[PATH_CAPACITY] = "";
    std::mutex writtenLock;
    WrittenFiles written;
    char target[PATH_CAPACITY] = "";  // the last entry's, as a fault speaks of it
    std::uint32_t otherEntry = 0;
};

// One entry's file, and how writing it went.
struct FileJob {
    std::uint32_t n = 0;
    EntryData data{};
    char target[PATH_CAPACITY] = "";
    WriteFault fault = WriteFault::none;
    std::uint32_t otherEntry = 0;  // for other_entrys_file
    bool heldElsewhere = false;    // for create_failed
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
                            EntryData data, const char* directory);

// write_entry_file in its two halves. The first, on the thread that runs
// the extraction: the target (run.target), the look for links, starting(),
// the folders.
WriteFault prepare_entry_target(ExtractionRun& run, EntryFiles& files, std::uint32_t n, std::string_view name,
                                const char* directory);
// The second, on any thread: job.target's file opened, claimed for job.n,
// emptied, filled and closed, through `buffer` (allocated here when a copy
// needs it first), its outcome left in the job.
void write_target_file(ExtractionRun& run, EntryFiles& files, FileJob& job, std::unique_ptr<std::uint8_t[]>& buffer,
                       std::uint32_t buffer_size);

// A worker's copy buffer, one per batch being written (so at most one per
// worker), the workers' together within JOBS_BUFFERS.
inline constexpr std::uint32_t JOB_BUFFER = 1u << 20;
inline constexpr std::uint32_t JOBS_BUFFERS = 16u << 20;
// Entries in flight. Many, so that the workers seldom wait on the caller
// or the caller on them: each wait costs a switch of threads.
inline constexpr unsigned MOST_JOBS = 64;
// Entries handed to a worker together: the hand-over costs a few system
// calls, shared by these.
inline constexpr std::size_t JOB_BATCH = 16;

// The second halves handed to a pool of workers while the caller prepares
// the next entries: at most MOST_JOBS handed over and not yet taken back,
// oldest first. A caller that finds the window full takes back half of it
// (busy() false), which it waits for once. Once a job fails, the jobs that
// a worker takes up after it are not done: the run ends at a failure no
// later than theirs.
class FileJobs {
public:
    FileJobs(ExtractionRun& run, EntryFiles& files, unsigned threads);
    FileJobs(const FileJobs&) = delete;
    FileJobs& operator=(const FileJobs&) = delete;

    bool full() const { return count_ == slots_.size(); }
    bool busy() const { return count_ > slots_.size() / 2; }
    bool empty() const { return count_ == 0; }
    // Whether `target` might name the file of a job not yet taken back:
    // the same but for letter case, or either holding what a system may
    // take for another name (bytes beyond ASCII, '~'). The caller takes
    // jobs back until it does not, so that two jobs never write one file
    // and claims come in the entries' order.
    bool clashes(const char* target) const;
    // Hands the job over (to a worker with the next JOB_BATCH - 1, or
    // when the oldest is asked for); not when full().
    void hand_over(std::uint32_t n, EntryData data, const char* target);
    // The oldest job, once done (with a full window, once half of it is);
    // the caller then drops it.
    const FileJob& oldest();
    void drop_oldest();

private:
    struct Slot {
        FileJob job;
        std::string key;  // clash_key of its target
        std::uint64_t ticket = 0;
    };
    ExtractionRun& run_;
    EntryFiles& files_;
    std::vector<Slot> slots_;
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::size_t submitted_ = 0;  // of count_, handed to the pool
    void submit();
    // The copy buffers not in a batch's hands, made as batches need them.
    std::unique_ptr<std::uint8_t[]> take_buffer();
    void give_back(std::unique_ptr<std::uint8_t[]> buffer);
    std::mutex buffersMutex_;
    std::vector<std::unique_ptr<std::uint8_t[]>> spareBuffers_;
    std::uint32_t bufferSize_;
    std::atomic<bool> stopped_{false};  // a job failed: those not yet begun are not done
    WorkPool pool_;  // last: its workers end before the slots go
};
