// See entry_writer.h.
#include "lib/extract/entry_writer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "lib/text/entry_name.h"
#include "lib/text/paths.h"

namespace {

// Makes `path` after its missing parents. A parent that is there already,
// under whatever spelling ("a/b/" for "a/b"), is as good as one made.
MakeDirStatus make_with_parents(EntryFiles& files, const char* path, PathStyle style, const LeadBytes& lead) {
    MakeDirStatus status = files.make_directory(path);
    if (status != MakeDirStatus::parent_missing) {
        return status;
    }
    std::size_t length = std::strlen(path);
    if (length >= PATH_CAPACITY) {
        return MakeDirStatus::other_failure;
    }
    char parent[PATH_CAPACITY];
    std::memcpy(parent, path, length + 1);
    std::size_t cut = last_separator(parent, style, lead);
    if (cut == std::string_view::npos || cut == 0) {
        return MakeDirStatus::other_failure;
    }
    parent[cut] = '\0';
    MakeDirStatus made = make_with_parents(files, parent, style, lead);
    if (made != MakeDirStatus::made && made != MakeDirStatus::exists) {
        return MakeDirStatus::other_failure;
    }
    // Tried once more only: a parent that is there but still "missing" (a
    // dangling link) must not make this loop.
    status = files.make_directory(path);
    return status == MakeDirStatus::parent_missing ? MakeDirStatus::other_failure : status;
}

// The first folder of `target` below the directory (its first `base`
// bytes) that is a link, as the length of its path in `target`; 0 when
// none is. A link there would take the entry outside; the directory itself
// is the caller's, link or not. Only the folders that the previous target's
// folder did not share are looked at, and none below one found missing,
// which is made afresh: a whole archive looks at each folder once.
std::size_t link_below(ExtractionRun& run, EntryFiles& files, const char* target, std::size_t base) {
    std::string_view folder(target);
    folder = folder.substr(0, last_separator(folder, run.style, *run.lead));
    if (folder == run.lastChecked) {
        return 0;
    }
    std::size_t end = std::max(base, shared_components(folder, run.lastChecked, run.style, *run.lead));
    char path[PATH_CAPACITY];
    while ((end = next_component_end(folder, end, run.style, *run.lead)) != std::string_view::npos) {
        std::memcpy(path, target, end);
        path[end] = '\0';
        PathKind kind = files.kind(path);
        if (kind == PathKind::link) {
            return end;
        }
        if (kind != PathKind::directory) {
            break;  // missing and made below, or a file that the target's creation fails on
        }
    }
    std::memcpy(run.lastChecked, folder.data(), folder.size());
    run.lastChecked[folder.size()] = '\0';
    return 0;
}

void make_target_directory(ExtractionRun& run, EntryFiles& files, const char* target) {
    char directory[PATH_CAPACITY];
    std::strcpy(directory, target);
    std::size_t cut = last_separator(directory, run.style, *run.lead);
    if (cut == std::string_view::npos) {
        return;
    }
    directory[cut] = '\0';
    if (std::strcmp(directory, run.lastMade) == 0) {
        return;
    }
    make_path(files, directory, run.style, *run.lead);
    std::strcpy(run.lastMade, directory);
}

// Whether entry n may be written into the file `identity`: no other entry
// was written into it in this run. A name that the system takes for
// another's (letter case, a short name) would put the second entry's bytes
// over the first's.
WriteFault may_write_file(ExtractionRun& run, std::uint32_t n, FileIdentity identity, std::uint32_t* other) {
    std::lock_guard<std::mutex> hold(run.writtenLock);
    std::optional<std::uint32_t> writer = written_by(run.written, identity);
    if (!writer) {
        return remember_written(&run.written, identity, n) ? WriteFault::none : WriteFault::no_memory;
    }
    if (*writer == n) {
        return WriteFault::none;
    }
    *other = *writer;
    return WriteFault::other_entrys_file;
}

// The file's data, flushed; the file is closed either way.
WriteFault fill_file(ExtractionRun& run, EntryFiles& files, FileJob& job, FileHandle file, const TargetOpen& opened,
                     std::unique_ptr<std::uint8_t[]>& buffer, std::uint32_t buffer_size) {
    // The file is emptied only once it is known to be no other entry's.
    WriteFault fault = may_write_file(run, job.n, opened.identity, &job.otherEntry);
    if (fault == WriteFault::none && !buffer) {
        buffer.reset(new (std::nothrow) std::uint8_t[buffer_size]);
        fault = buffer ? WriteFault::none : WriteFault::no_memory;
    }
    if (fault == WriteFault::none && opened.size != 0 && !files.empty(file)) {
        fault = WriteFault::write_failed;
    }
    if (fault == WriteFault::none) {
        fault = files.copy(job.n, job.data, file, buffer.get(), buffer_size);
    }
    if (fault == WriteFault::none && !files.flush(file)) {
        fault = WriteFault::write_failed;
    }
    files.close(file);
    return fault;
}

// The name as a system that ignores letter case sees it; empty when it
// holds what a system may take for another name still: bytes beyond ASCII
// (folded or normalized by some), '~' (Windows' short names).
// Doubled separators ("a//b") count as one.
std::string clash_key(const char* target) {
    std::string key;
    for (const char* at = target; *at != '\0'; ++at) {
        char c = *at;
        if (static_cast<unsigned char>(c) >= 0x80 || c == '~') {
            return std::string();
        }
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c == '\\' ? '/' : c;
        if (c != '/' || key.empty() || key.back() != '/') {
            key.push_back(c);
        }
    }
    return key;
}

}  // namespace

NameCheck check_entry_name(std::string_view name, bool whole, PathStyle style, const LeadBytes& lead,
                           bool in_code_page) {
    if (whole ? !is_safe_entry_name(name, style, lead, in_code_page) : !is_safe_entry_name_start(name, style, lead)) {
        return NameCheck::unsafe;
    }
    return whole ? NameCheck::safe : NameCheck::too_long;
}

int make_path(EntryFiles& files, const char* path, PathStyle style, const LeadBytes& lead) {
    return make_with_parents(files, path, style, lead) == MakeDirStatus::made;
}

int copy_buffer_ready(ExtractionRun& run) {
    if (!run.copyBuffer) {
        run.copyBuffer.reset(new (std::nothrow) std::uint8_t[COPY_CHUNK]);
    }
    return run.copyBuffer != nullptr;
}

bool target_fits(ExtractionRun& run, std::string_view name, const char* directory) {
    run.target[0] = '\0';
    return directory != nullptr && append_text(run.target, PATH_CAPACITY, directory) &&
           append_archive_name(run.target, PATH_CAPACITY, name, run.style);
}

WriteFault prepare_entry_target(ExtractionRun& run, EntryFiles& files, std::uint32_t n, std::string_view name,
                                const char* directory) {
    if (!target_fits(run, name, directory)) {
        return WriteFault::too_long;
    }
    if (std::size_t link = link_below(run, files, run.target, std::strlen(directory))) {
        run.target[link] = '\0';
        return WriteFault::link;
    }
    files.starting(n, run.target);
    make_target_directory(run, files, run.target);
    return WriteFault::none;
}

void write_target_file(ExtractionRun& run, EntryFiles& files, FileJob& job, std::unique_ptr<std::uint8_t[]>& buffer,
                       std::uint32_t buffer_size) {
    TargetOpen opened;
    FileHandle file = files.open(job.target, &opened);
    if (file == INVALID_FILE) {
        job.fault = WriteFault::create_failed;
        job.heldElsewhere = opened.heldElsewhere;
        return;
    }
    job.fault = fill_file(run, files, job, file, opened, buffer, buffer_size);
}

WriteFault write_entry_file(ExtractionRun& run, EntryFiles& files, std::uint32_t n, std::string_view name,
                            EntryData data, const char* directory) {
    if (WriteFault fault = prepare_entry_target(run, files, n, name, directory); fault != WriteFault::none) {
        return fault;
    }
    FileJob job;
    job.n = n;
    job.data = data;
    std::memcpy(job.target, run.target, sizeof job.target);
    write_target_file(run, files, job, run.copyBuffer, COPY_CHUNK);
    run.otherEntry = job.otherEntry;
    return job.fault;
}

FileJobs::FileJobs(ExtractionRun& run, EntryFiles& files, unsigned threads)
    : run_(run), files_(files), slots_(MOST_JOBS),
      bufferSize_(std::min(JOB_BUFFER, JOBS_BUFFERS / std::max(threads, 1u))), pool_(threads) {
    // Each batch running holds one: no more than the workers.
    spareBuffers_.reserve(std::max(threads, 1u));
}

std::unique_ptr<std::uint8_t[]> FileJobs::take_buffer() {
    std::lock_guard<std::mutex> lock(buffersMutex_);
    if (spareBuffers_.empty()) {
        return nullptr;  // write_target_file makes one when it needs it
    }
    std::unique_ptr<std::uint8_t[]> buffer = std::move(spareBuffers_.back());
    spareBuffers_.pop_back();
    return buffer;
}

void FileJobs::give_back(std::unique_ptr<std::uint8_t[]> buffer) {
    if (!buffer) {
        return;
    }
    std::lock_guard<std::mutex> lock(buffersMutex_);
    spareBuffers_.push_back(std::move(buffer));  // reserved: never throws
}

bool FileJobs::clashes(const char* target) const {
    const std::string key = clash_key(target);
    for (std::size_t i = 0; i < count_; ++i) {
        const std::string& other = slots_[(first_ + i) % slots_.size()].key;
        if (key.empty() || other.empty() || other == key) {
            return true;
        }
    }
    return false;
}

void FileJobs::hand_over(std::uint32_t n, EntryData data, const char* target) {
    Slot& slot = slots_[(first_ + count_) % slots_.size()];
    ++count_;
    slot.job = FileJob();
    slot.job.n = n;
    slot.job.data = data;
    std::strcpy(slot.job.target, target);
    slot.key = clash_key(target);
    if (count_ - submitted_ >= JOB_BATCH) {
        submit();
    }
}

void FileJobs::submit() {
    if (submitted_ == count_) {
        return;
    }
    const std::size_t from = first_ + submitted_;
    const std::size_t count = count_ - submitted_;
    submitted_ = count_;
    const std::uint64_t turn = files_.handing_over();
    const std::uint64_t ticket = pool_.run([this, from, count, turn] {
        files_.job_begins(turn);
        std::unique_ptr<std::uint8_t[]> buffer = take_buffer();
        for (std::size_t i = 0; i < count; ++i) {
            Slot& slot = slots_[(from + i) % slots_.size()];
            if (stopped_.load(std::memory_order_relaxed)) {
                // Entries are written in order: the failed one comes
                // first, and this outcome is never taken back.
                slot.job.fault = WriteFault::write_failed;
                continue;
            }
            write_target_file(run_, files_, slot.job, buffer, bufferSize_);
            if (slot.job.fault != WriteFault::none) {
                stopped_.store(true, std::memory_order_relaxed);
            }
        }
        give_back(std::move(buffer));
        files_.job_ends(turn);
    });
    for (std::size_t i = 0; i < count; ++i) {
        slots_[(from + i) % slots_.size()].ticket = ticket;
    }
}

const FileJob& FileJobs::oldest() {
    submit();
    const std::size_t ahead = full() ? slots_.size() / 2 - 1 : 0;
    pool_.wait_for(slots_[(first_ + ahead) % slots_.size()].ticket);
    return slots_[first_].job;
}

void FileJobs::drop_oldest() {
    first_ = (first_ + 1) % slots_.size();
    --count_;
    --submitted_;
}
