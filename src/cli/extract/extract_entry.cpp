// The command line's extraction of one entry, in two halves that the
// commands which extract share: the check of the entry, and the writing of
// its file, which entry_writer does over this process's platform calls,
// its messages printed here.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "cli/extract/extract.h"
#include "cli/main/end_run.h"
#include "cli/main/held_elsewhere.h"
#include "cli/reader/reader.h"
#include "cli/reader/selection.h"
#include "cli/text/directory_form.h"
#include "cli/text/printable.h"
#include "lib/extract/entry_writer.h"
#include "lib/extract/written_files.h"
#include "lib/text/entry_name.h"
#include "lib/text/paths.h"
#include "lib/threads/work_pool.h"
#include "platform/platform.h"

namespace {

// A name longer than the window holds more than a refusal quotes of it.
static_assert(INDEX_WINDOW - ENTRY_NAME_AT > PATH_CAPACITY);

// The run of this process: one per command.
ExtractionRun extraction;

ExtractionRun& run() {
    extraction.style = local_path_style();
    extraction.lead = &local_lead_bytes();
    return extraction;
}

// The entry being written, as starting() needs it.
const BigEntry* writing = nullptr;

// The "Extracting" line of entry n into `target`.
std::string extracting_line(std::uint32_t n, const BigEntry& entry, const char* target) {
    std::string storage;
    std::string_view quoted = quoted_name(entry.name, storage);
    quoted = quoted.substr(0, quoted.find('\0'));
    std::string target_storage;
    std::string line = "Extracting[";
    line.append(std::to_string(n)).append("] ").append(std::to_string(entry_data_size(entry)));
    line.append(" bytes from '").append(quoted).append("' to '").append(printable(target, target_storage));
    return line.append("': ");
}

// The platform's calls, counted by the test seam, the archive refused as
// a file this process holds; the "Extracting" line printed as a target
// is begun, or kept for its place when workers write the files.
class CommandFiles final : public EntryFiles {
public:
    PathKind kind(const char* path) override { return path_kind(path); }
    MakeDirStatus make_directory(const char* path) override { return ::make_directory(path); }
    FileHandle open(const char* path, TargetOpen* opened) override {
        FileHandle file = file_open_target(path, &opened->identity);
        opened->size = 1;  // file_empty knows
        opened->heldElsewhere = file == INVALID_FILE && file_held_elsewhere();
        return file;
    }
    int empty(FileHandle file) override { return file_empty(file); }
    WriteFault copy(std::uint32_t, EntryData data, FileHandle file, void* buffer, std::uint32_t size) override {
        switch (copy_archive_data(static_cast<std::uint32_t>(data.at), data.size, file, buffer, size)) {
        case DataCopy::copied: return WriteFault::none;
        case DataCopy::seek_failed: return WriteFault::seek_failed;
        case DataCopy::read_failed: return WriteFault::read_failed;
        case DataCopy::write_failed: return WriteFault::write_failed;
        }
        return WriteFault::read_failed;
    }
    int flush(FileHandle file) override { return file_flush(file); }
    void close(FileHandle file) override { file_close(file); }
    void starting(std::uint32_t n, const char* target) override {
        std::string made = extracting_line(n, *writing, target);
        if (line != nullptr) {
            *line = std::move(made);
        } else {
            std::fwrite(made.data(), 1, made.size(), stdout);
        }
    }

    std::string* line = nullptr;  // where the line is kept, or null to print it
};
CommandFiles files;

// The calls of workers writing targets: no state of the process, each
// counted by the test seam in the turn of its job; the archive read at
// offsets through a handle of their own.
class WorkerFiles final : public EntryFiles {
public:
    WorkerFiles(FileHandle archive, FileIdentity avoid, bool known) : archive_(archive), avoid_(avoid), known_(known) {}
    PathKind kind(const char* path) override { return path_kind(path); }
    MakeDirStatus make_directory(const char* path) override { return ::make_directory(path); }
    FileHandle open(const char* path, TargetOpen* opened) override {
        return worker_open_target(path, known_ ? &avoid_ : nullptr, opened);
    }
    int empty(FileHandle file) override { return worker_empty(file); }
    WriteFault copy(std::uint32_t, EntryData data, FileHandle file, void* buffer, std::uint32_t size) override {
        std::uint64_t copied = 0;
        switch (worker_copy(archive_, data.at, file, data.size, buffer, size, &copied)) {
        case CopyStatus::copied: return WriteFault::none;
        case CopyStatus::source_ended:
        case CopyStatus::read_failed: return WriteFault::read_failed;
        case CopyStatus::write_failed: return WriteFault::write_failed;
        }
        return WriteFault::read_failed;
    }
    int flush(FileHandle file) override { return worker_flush(file); }
    void close(FileHandle file) override { file_close_shared(file); }
    void starting(std::uint32_t, const char*) override {}
    std::uint64_t handing_over() override { return seam_hand_over(); }
    void job_begins(std::uint64_t turn) override { seam_turn_begin(turn); }
    void job_ends(std::uint64_t turn) override { seam_turn_end(turn); }

private:
    FileHandle archive_;
    FileIdentity avoid_;
    bool known_;
};

// After `target` could not be created: names the first of its folders that
// is there but is no folder (a file, or a link to none), which the fixed
// message, speaking of the file, leaves the user to guess.
void name_what_is_in_the_way(const char* target) {
    const PathStyle style = local_path_style();
    const LeadBytes& lead = local_lead_bytes();
    std::string_view folder(target);
    folder = folder.substr(0, last_separator(folder, style, lead));
    char path[PATH_CAPACITY];
    std::size_t end = 0;
    while ((end = next_component_end(folder, end, style, lead)) != std::string_view::npos) {
        std::memcpy(path, target, end);
        path[end] = '\0';
        if (path_kind(path) != PathKind::missing && !is_directory(path)) {
            std::string shown;
            std::printf("'%s' is in the way: a folder must go there.\n", printable(path, shown));
            return;
        }
    }
}

// The name as messages quote it.
struct Quoted {
    std::string storage;
    std::string_view text;
    int length() const { return static_cast<int>(text.size()); }
};

void quote(std::string_view name, Quoted* quoted) {
    quoted->text = quoted_name(name, quoted->storage);
}

void refuse_too_long(std::string_view quoted) {
    std::printf("Error: Path too long to extract '%.*s'.\n", static_cast<int>(quoted.size()), quoted.data());
}

// Refuses the entry as too long to extract; none.
std::optional<BigEntry> refuse_too_long(const BigEntry& entry) {
    Quoted quoted;
    quote(entry.name, &quoted);
    refuse_too_long(quoted.text);
    return std::nullopt;
}

// Names both entries of a file that two would go into.
void refuse_other_entrys_file(std::uint32_t n, std::string_view shown, std::uint32_t writer) {
    // The run ends here: the reader may walk back for the other's name.
    const std::string second(shown);
    std::optional<BigEntry> first = find_entry(writer);
    std::string storage;
    std::string_view first_shown = first ? quoted_name(first->name, storage) : std::string_view("?");
    std::printf("Error: Entry %lu '%s' names the file already extracted for entry %lu '%.*s'; "
                "it keeps entry %lu's data.\n",
                static_cast<unsigned long>(n), second.c_str(), static_cast<unsigned long>(writer),
                static_cast<int>(first_shown.size()), first_shown.data(), static_cast<unsigned long>(writer));
}

// Prints why entry n (its name as quoted) was not written to `target`; 0.
int refuse(WriteFault fault, std::uint32_t n, std::string_view quoted, const char* target, std::uint32_t other,
           bool held_elsewhere) {
    std::string target_storage;
    const int length = static_cast<int>(quoted.size());
    switch (fault) {
    case WriteFault::none: return 1;
    case WriteFault::too_long: refuse_too_long(quoted); break;
    case WriteFault::link:
        std::printf("Error: Refusing to extract '%.*s': '%s' is a link.\n", length, quoted.data(),
                    printable(target, target_storage));
        break;
    case WriteFault::create_failed:
        std::printf("Error: Failed to create.\nPlease, remove the file if it exists.\n");
        say_held_elsewhere(held_elsewhere, target);
        name_what_is_in_the_way(target);
        break;
    case WriteFault::other_entrys_file: refuse_other_entrys_file(n, quoted, other); break;
    case WriteFault::no_memory: std::printf("Error: Failed to allocate enough memory.\n"); break;
    case WriteFault::seek_failed: std::printf("Error: Could not set file pointer.\n"); break;
    // Ending early means the entry runs past the archive's end.
    case WriteFault::read_failed: std::printf("Error: Could not read from BIG file.\n"); break;
    case WriteFault::write_failed: std::printf("Error: Could not write to file.\n"); break;
    }
    return 0;
}

EntryData data_of(const BigEntry& entry) {
    return {entry_data_offset(entry), entry_data_size(entry)};
}

// Why an entry is not to be extracted, told by judge_entry before it is
// said (report_verdict).
enum class Verdict { extract, none, unreadable, count_mismatch, unsafe, too_long };

Verdict judge_entry(std::uint32_t n, std::optional<BigEntry>& entry) {
    entry = find_entry_quietly(n);
    if (!entry) {
        // Within fileCount but beyond the index that the file holds.
        BigHeader header;
        if (entry_lookup_failed()) {
            return Verdict::unreadable;
        }
        return get_header(&header) && n < static_cast<std::uint32_t>(header.fileCount) ? Verdict::count_mismatch
                                                                                         : Verdict::none;
    }
    // Decided from the name alone, before anything is created for it; a
    // name longer than the index window, from the part the window holds.
    std::string_view name = entry->name;
    switch (check_entry_name(name, entry_name_is_whole(*entry), local_path_style(), local_lead_bytes(),
                             name_in_code_page(name))) {
    case NameCheck::safe: return Verdict::extract;
    case NameCheck::unsafe: return Verdict::unsafe;
    case NameCheck::too_long: return Verdict::too_long;
    }
    return Verdict::extract;
}

void report_verdict(Verdict verdict, const std::optional<BigEntry>& entry) {
    switch (verdict) {
    case Verdict::extract:
    case Verdict::none: break;
    case Verdict::unreadable: print_index_unreadable(); break;
    case Verdict::count_mismatch: std::printf("Error: Header file count mismatch.\n"); break;
    case Verdict::unsafe: {
        Quoted quoted;
        quote(entry->name, &quoted);
        std::printf("Error: Refusing to extract '%.*s': unsafe file name.\n", quoted.length(),
                    quoted.text.data());
        break;
    }
    case Verdict::too_long: refuse_too_long(*entry); break;
    }
}

}  // namespace

int make_path(const char* path) {
    return make_path(files, path, local_path_style(), local_lead_bytes());
}

int copy_buffer_ready() {
    if (!copy_buffer_ready(run())) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return 0;
    }
    return 1;
}

void* copy_buffer() {
    return extraction.copyBuffer.get();
}

const char* resolve_output_directory(const char* outdir, char* resolved) {
    if (!directory_form_accepted(outdir, local_path_style(), local_lead_bytes())) {
        end_run(2);
    }
    ResolveStatus status = std::strlen(outdir) >= PATH_CAPACITY
                               ? ResolveStatus::too_long
                               : resolve_path(outdir, resolved, PATH_CAPACITY);
    switch (status) {
    case ResolveStatus::resolved: return resolved;
    case ResolveStatus::too_long: return nullptr;
    case ResolveStatus::no_current_directory:
        std::printf("Error: Could not get the current directory.\n");
        end_run(2);
    }
    return nullptr;
}

std::optional<BigEntry> entry_to_extract(std::uint32_t n) {
    std::optional<BigEntry> entry;
    Verdict verdict = judge_entry(n, entry);
    report_verdict(verdict, entry);
    return verdict == Verdict::extract ? entry : std::nullopt;
}

int target_fits(const BigEntry& entry, const char* directory) {
    if (!target_fits(run(), entry.name, directory)) {
        refuse_too_long(entry);
        return 0;
    }
    return 1;
}

int write_entry(std::uint32_t n, const BigEntry& entry, const char* directory) {
    writing = &entry;
    WriteFault fault = write_entry_file(run(), files, n, entry.name, data_of(entry), directory);
    writing = nullptr;
    if (fault != WriteFault::none) {
        Quoted quoted;
        quote(entry.name, &quoted);
        return refuse(fault, n, quoted.text, extraction.target, extraction.otherEntry, file_held_elsewhere());
    }
    std::printf("OK\n");
    return 1;
}

std::optional<BigEntry> extract_entry(std::uint32_t n, const char* directory) {
    if (!archive_is_open()) {
        return std::nullopt;
    }
    std::optional<BigEntry> entry = entry_to_extract(n);
    if (!entry || !write_entry(n, *entry, directory)) {
        return std::nullopt;
    }
    return entry;
}

// The workers, their calls and the archive's second handle, which their
// reads at offsets use.
struct Extraction::Workers {
    Workers(FileHandle archive, FileIdentity avoid, bool known, unsigned threads)
        : again(archive), files(archive, avoid, known), jobs(std::in_place, run(), files, threads) {}
    ~Workers() {
        jobs.reset();  // every job done before the handle goes
        file_close_shared(again);
    }
    FileHandle again;
    WorkerFiles files;
    std::optional<FileJobs> jobs;
};

Extraction::Extraction(unsigned threads) {
    FileHandle archive = archive_file();
    if (threads <= 1 || archive == INVALID_FILE) {
        return;
    }
    FileIdentity identity{};
    bool known = file_identity_shared(archive, &identity);
    FileHandle again = file_open_again(archive);
    if (again != INVALID_FILE) {
        workers_ = std::make_unique<Workers>(again, identity, known, threads);
    }
}

Extraction::~Extraction() {
    stop();
}

void Extraction::stop() {
    workers_.reset();
}

bool Extraction::take_back_one() {
    Pending pending = std::move(pending_.front());
    pending_.pop_front();
    if (pending.skipped) {
        std::printf("Skipping index number %lu\n", static_cast<unsigned long>(pending.n));
        return true;
    }
    const FileJob& job = workers_->jobs->oldest();
    std::fwrite(pending.line.data(), 1, pending.line.size(), stdout);
    if (job.fault == WriteFault::none) {
        workers_->jobs->drop_oldest();
        std::printf("OK\n");
        return true;
    }
    const FileJob failed = job;
    stop();  // the jobs in flight finish their files first
    refuse(failed.fault, failed.n, pending.quoted, failed.target, failed.otherEntry, failed.heldElsewhere);
    return false;
}

bool Extraction::take_back_all() {
    while (!pending_.empty()) {
        if (!take_back_one()) {
            return false;
        }
    }
    return true;
}

bool Extraction::extract(std::uint32_t n, const char* directory) {
    if (!workers_) {
        return extract_entry(n, directory).has_value();
    }
    std::optional<BigEntry> entry;
    Verdict verdict = judge_entry(n, entry);
    if (verdict != Verdict::extract) {
        if (take_back_all()) {
            report_verdict(verdict, entry);
        }
        stop();
        return false;
    }
    return write(n, *entry, directory);
}

bool Extraction::write(std::uint32_t n, const BigEntry& entry, const char* directory) {
    if (!workers_) {
        return write_entry(n, entry, directory) != 0;
    }
    if (workers_->jobs->full()) {
        while (workers_->jobs->busy()) {
            if (!take_back_one()) {
                return false;
            }
        }
    }
    Pending pending;
    pending.n = n;
    Quoted quoted;
    quote(entry.name, &quoted);
    pending.quoted = std::string(quoted.text);
    ExtractionRun& current = run();
    writing = &entry;
    files.line = &pending.line;
    WriteFault fault = prepare_entry_target(current, files, n, entry.name, directory);
    files.line = nullptr;
    writing = nullptr;
    while (!pending_.empty() && (fault != WriteFault::none || workers_->jobs->clashes(current.target))) {
        if (!take_back_one()) {
            return false;
        }
    }
    if (fault != WriteFault::none) {
        stop();
        return refuse(fault, n, pending.quoted, current.target, 0, false) != 0;
    }
    workers_->jobs->hand_over(n, data_of(entry), current.target);
    pending_.push_back(std::move(pending));
    return true;
}

BigEntry Extraction::walked(std::uint32_t n) {
    if (!workers_) {
        return walked_entry(n);
    }
    std::optional<BigEntry> entry = find_entry_quietly(n);
    if (entry) {
        return *entry;
    }
    const bool unreadable = entry_lookup_failed();
    if (take_back_all()) {
        if (unreadable) {
            print_index_unreadable();
        } else {
            std::printf("Error: Header file count mismatch.\n");
        }
    }
    stop();
    end_run(2);
}

void Extraction::skip(std::uint32_t n) {
    if (!workers_) {
        std::printf("Skipping index number %lu\n", static_cast<unsigned long>(n));
        return;
    }
    Pending pending;
    pending.skipped = true;
    pending.n = n;
    pending_.push_back(std::move(pending));
}

bool Extraction::finish() {
    bool done = !workers_ || take_back_all();
    stop();
    return done;
}
