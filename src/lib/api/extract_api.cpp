// The public API's extraction: entries copied into files below a directory
// with the command line's guarantees, over the library's own file calls.
// The run's state is on the caller's stack: threads extracting at once
// share nothing but the archive handle, which they read at positions.
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>

#include "lib/api/handle.h"
#include "lib/extract/entry_writer.h"
#include "lib/text/paths.h"

namespace {

class LibraryFiles final : public EntryFiles {
public:
    LibraryFiles(const bt_archive* archive, bt_extract_fn observer, void* context)
        : archive_(archive), observer_(observer), context_(context) {
        known_ = archive->file != INVALID_FILE && file_identity_shared(archive->file, &identity_);
    }
    PathKind kind(const char* path) override { return path_kind(path); }
    MakeDirStatus make_directory(const char* path) override { return directory_make(path); }
    FileHandle open(const char* path, TargetOpen* opened) override {
        return file_open_target_shared(path, known_ ? &identity_ : nullptr, opened);
    }
    int empty(FileHandle file) override { return file_empty_shared(file); }
    WriteFault copy(std::uint32_t n, EntryData, FileHandle file, void* buffer, std::uint32_t size) override {
        const ArchiveTable& table = archive_->table;
        const std::uint64_t at = table_data_offset(table, n);
        const std::uint32_t total = table_data_size(table, n);
        for (std::uint32_t done = 0; done < total;) {
            std::uint32_t want = total - done < size ? total - done : size;
            std::uint32_t got = 0;
            if (!read_archive(archive_, at + done, buffer, want, &got) || got == 0) {
                return WriteFault::read_failed;  // a failed read, or the archive's end
            }
            if (!file_write_shared(file, buffer, got)) {
                return WriteFault::write_failed;
            }
            done += got;
        }
        return WriteFault::none;
    }
    int flush(FileHandle file) override { return file_flush_shared(file); }
    void close(FileHandle file) override { file_close_shared(file); }
    void starting(std::uint32_t n, const char* target) override {
        if (observer_ != nullptr) {
            observer_(context_, n, target);
        }
    }

private:
    const bt_archive* archive_;
    bt_extract_fn observer_;
    void* context_;
    bool known_ = false;
    FileIdentity identity_{};
};

// Joined by append: GCC 12 at -O3 misreads "literal" + std::string&&.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts) {
        text.append(part);
    }
    return text;
}

std::string quoted_entry(const bt_archive* archive, std::uint32_t n) {
    return quoted(table_name(archive->table, n));
}

// The status and message of a refused or failed entry.
int failed(const bt_archive* archive, const ExtractionRun& run, WriteFault fault, std::uint32_t n) {
    const std::string name = quoted_entry(archive, n);
    switch (fault) {
    case WriteFault::none: return BT_OK;
    case WriteFault::too_long:
        return fail(archive, BT_ERR_UNSAFE_NAME, joined({"Path too long to extract '", name, "'."}));
    case WriteFault::link:
        return fail(archive, BT_ERR_UNSAFE_NAME,
                    joined({"Refusing to extract '", name, "': '", quoted(run.target), "' is a link."}));
    case WriteFault::other_entrys_file: {
        const std::string other = std::to_string(run.otherEntry);
        return fail(archive, BT_ERR_UNSAFE_NAME,
                    joined({"Entry ", std::to_string(n), " '", name, "' names the file already extracted for entry ",
                            other, " '", quoted_entry(archive, run.otherEntry), "'; it keeps entry ", other,
                            "'s data."}));
    }
    case WriteFault::create_failed:
        return fail(archive, BT_ERR_OPEN, "Failed to create.\nPlease, remove the file if it exists.");
    case WriteFault::no_memory: return fail(archive, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    case WriteFault::seek_failed: return fail(archive, BT_ERR_READ, "Could not set file pointer.");
    case WriteFault::read_failed: return fail(archive, BT_ERR_READ, "Could not read from BIG file.");
    case WriteFault::write_failed: return fail(archive, BT_ERR_WRITE, "Could not write to file.");
    }
    return BT_OK;
}

EntryData entry_data(const bt_archive* archive, std::uint32_t n) {
    return {table_data_offset(archive->table, n), table_data_size(archive->table, n)};
}

// The status of a job taken back: its failure's, the run's target and
// other entry set as a failure on this thread would leave them.
int job_status(const bt_archive* archive, ExtractionRun& run, const FileJob& job) {
    if (job.fault == WriteFault::none) {
        return BT_OK;
    }
    std::memcpy(run.target, job.target, sizeof run.target);
    run.otherEntry = job.otherEntry;
    return failed(archive, run, job.fault, job.n);
}

// The files written by workers while this thread looks for links, makes
// folders and tells the observer, in order; the first failure in that
// order is the call's, once the jobs in flight are done.
int extract_by_workers(const bt_archive* archive, ExtractionRun& run, LibraryFiles& files, const std::uint32_t* indices,
                       std::size_t count, const char* directory, unsigned threads) {
    FileJobs jobs(run, files, threads);
    int status = BT_OK;
    auto take_back = [&] {
        if (status == BT_OK) {
            status = job_status(archive, run, jobs.oldest());
        }
        jobs.drop_oldest();
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t n = indices[i];
        if (jobs.full()) {
            while (jobs.busy()) {
                take_back();
            }
        }
        if (status != BT_OK) {
            break;
        }
        WriteFault fault = prepare_entry_target(run, files, n, table_name(archive->table, n), directory);
        while (!jobs.empty() && status == BT_OK && (fault != WriteFault::none || jobs.clashes(run.target))) {
            take_back();
        }
        if (status != BT_OK) {
            break;
        }
        if (fault != WriteFault::none) {
            return failed(archive, run, fault, n);
        }
        jobs.hand_over(n, entry_data(archive, n), run.target);
    }
    while (!jobs.empty()) {
        take_back();
    }
    return status;
}

// Every entry is checked before anything is made: a refused one leaves the
// directory as it was.
int check_entries(const bt_archive* archive, ExtractionRun& run, const std::uint32_t* indices, std::size_t count,
                  const char* directory, const char* call) {
    const ArchiveTable& table = archive->table;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t n = indices[i];
        if (n >= table.entries.size()) {
            return fail(archive, BT_ERR_ARGUMENT,
                        joined({call, ": there is no entry ", std::to_string(n), "; the archive has ",
                                std::to_string(table.entries.size()), "."}));
        }
        std::string_view name = table_name(table, n);
        if (check_entry_name(name, true, run.style, *run.lead, name_in_code_page(name)) != NameCheck::safe) {
            return fail(archive, BT_ERR_UNSAFE_NAME,
                        joined({"Refusing to extract '", quoted(name), "': unsafe file name."}));
        }
        if (!target_fits(run, name, directory)) {
            return failed(archive, run, WriteFault::too_long, n);
        }
    }
    return BT_OK;
}

int extract_entries(const bt_archive* archive, const std::uint32_t* indices, std::size_t count,
                    const char* directory, bt_extract_fn observer, void* context, unsigned threads, const char* call) {
    if (directory == nullptr || directory[0] == '\0' || (indices == nullptr && count > 0)) {
        return fail(archive, BT_ERR_ARGUMENT, joined({call, ": no directory, or no indices."}));
    }
    ExtractionRun run;
    run.style = local_path_style();
    run.lead = &code_page_lead_bytes();
    if (path_form(directory, run.style) == PathForm::device) {
        return fail(archive, BT_ERR_ARGUMENT,
                    joined({"'", quoted(directory), "' is a device path (\\\\?\\ or \\\\.\\), which is not taken as a directory."}));
    }
    if (int status = check_entries(archive, run, indices, count, directory, call); status != BT_OK) {
        return status;
    }
    LibraryFiles files(archive, observer, context);
    make_path(files, directory, run.style, *run.lead);
    if (threads > 1 && count > 1) {
        return extract_by_workers(archive, run, files, indices, count, directory, threads);
    }
    for (std::size_t i = 0; i < count; ++i) {
        WriteFault fault = write_entry_file(run, files, indices[i], table_name(archive->table, indices[i]),
                                            entry_data(archive, indices[i]), directory);
        if (fault != WriteFault::none) {
            return failed(archive, run, fault, indices[i]);
        }
    }
    return BT_OK;
}

int guarded(const bt_archive* archive, const std::uint32_t* indices, std::size_t count, const char* directory,
            bt_extract_fn observer, void* context, unsigned threads, const char* call) {
    if (!usable(archive, call)) {
        return BT_ERR_ARGUMENT;
    }
    if (threads > 64) {
        return fail(archive, BT_ERR_ARGUMENT, joined({call, ": threads must be 0 to 64."}));
    }
    try {
        return extract_entries(archive, indices, count, directory, observer, context,
                               work_threads(threads, threads == 0 ? processor_count() : 1), call);
    } catch (const std::bad_alloc&) {
        return fail(archive, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
}

}  // namespace

extern "C" {

int bt_extract(const bt_archive* archive, uint32_t index, const char* directory) {
    return guarded(archive, &index, 1, directory, nullptr, nullptr, 1, "bt_extract");
}

int bt_extract_entries(const bt_archive* archive, const uint32_t* indices, size_t count, const char* directory,
                       bt_extract_fn observer, void* context) {
    return guarded(archive, indices, count, directory, observer, context, 1, "bt_extract_entries");
}

int bt_extract_threads(const bt_archive* archive, const uint32_t* indices, size_t count, const char* directory,
                       bt_extract_fn observer, void* context, unsigned threads) {
    return guarded(archive, indices, count, directory, observer, context, threads, "bt_extract_threads");
}

}  // extern "C"
