// See read_ahead.h.
#include "cli/create/read_ahead.h"

#include <cstring>
#include <new>

namespace {

// A batch holds this many files at most, so that tiny files too come in
// shares that keep every worker busy.
constexpr std::size_t BATCH_FILES = 64;

}  // namespace

ReadAhead::ReadAhead(WorkPool& pool, Source source, FileHandle target, FileHandle archive)
    : pool_(pool), source_(std::move(source)), target_(target), archive_(archive),
      on_(pool.workers() > 0 && reading_ahead_allowed()) {
    if (on_) {
        batches_.resize(AHEAD_BATCHES);
        return;
    }
    for (FileHandle* handle : {&target_, &archive_}) {
        if (*handle != INVALID_FILE) {
            file_close_shared(*handle);
            *handle = INVALID_FILE;
        }
    }
}

ReadAhead::~ReadAhead() {
    // The workers write into the batches: none may be left in flight.
    if (count_ > 0) {
        pool_.wait_for(batches_[(first_ + count_ - 1) % batches_.size()].ticket);
    }
    for (FileHandle handle : {target_, archive_}) {
        if (handle != INVALID_FILE) {
            file_close_shared(handle);
        }
    }
}

namespace {

// Each file read as listed, against the archive's bytes, which are read
// into `archived` where the file's are in `bytes`: one read for each run
// of files that lie one after another in the archive. Where that read
// fails, its files are left to the run, which reads the archive itself.
void compare_with_archive(FileHandle archive, const std::uint8_t* bytes, std::uint8_t* archived,
                          std::vector<AheadFile>& files) {
    for (std::size_t first = 0, end = 0; first < files.size(); first = end) {
        for (end = first + 1; end < files.size() && files[end].offset == files[end - 1].offset + files[end - 1].size;) {
            ++end;
        }
        const AheadFile& last = files[end - 1];
        const std::uint32_t span = last.bytesAt + last.size - files[first].bytesAt;
        std::uint32_t got = 0;
        if (span == 0 || !file_read_at(archive, files[first].offset, archived + files[first].bytesAt, span, &got) ||
            got != span) {
            continue;
        }
        for (std::size_t k = first; k < end; ++k) {
            AheadFile& file = files[k];
            if (file.outcome.read && file.outcome.got == file.size) {
                const bool same = std::memcmp(bytes + file.bytesAt, archived + file.bytesAt, file.size) == 0;
                file.match = same ? AheadMatch::same : AheadMatch::different;
            }
        }
    }
}

}  // namespace

bool ReadAhead::fill_batch(Batch& batch) {
    if (!batch.bytes) {
        batch.bytes.reset(new (std::nothrow) std::uint8_t[AHEAD_BATCH_BYTES]);
        if (!batch.bytes) {
            return false;  // the run reads the rest itself
        }
    }
    if (archive_ != INVALID_FILE && !batch.archived) {
        // Without it the batch's files are only read ahead.
        batch.archived.reset(new (std::nothrow) std::uint8_t[AHEAD_BATCH_BYTES]);
    }
    batch.files.clear();
    batch.paths.clear();
    batch.next = 0;
    batch.written = false;
    batch.taken = false;
    // Each file is read with one byte more than its size, which shows one
    // that grew; where the batch is written whole, the next file's bytes
    // start on that byte, and only the last needs it to spare.
    const bool whole = packed();
    std::uint32_t used = 0;
    while (batch.files.size() < BATCH_FILES) {
        if (!held_ && !(held_ = source_(&heldKey_, &heldPath_, &heldSize_, &heldOffset_))) {
            ended_ = true;
            break;
        }
        if (AHEAD_BATCH_BYTES - used < heldSize_ + 1) {
            break;  // it starts the next batch
        }
        if (!batch.files.empty() && writes() && heldOffset_ != batch.files.front().offset + used) {
            break;  // not next to the last
        }
        batch.files.push_back(
            {heldKey_, heldSize_, static_cast<std::uint32_t>(batch.paths.size()), used, heldOffset_, {}});
        batch.paths.append(heldPath_);
        batch.paths.push_back('\0');
        used += heldSize_ + (whole ? 0 : 1);
        held_ = false;
    }
    return !batch.files.empty();
}

void ReadAhead::fill() {
    while (!ended_ && count_ < batches_.size()) {
        Batch& batch = batches_[(first_ + count_) % batches_.size()];
        try {
            if (!fill_batch(batch)) {
                return;
            }
            batch.ticket = pool_.run([&batch, target = target_, archive = archive_] {
                std::uint32_t whole = 0;  // bytes of the files read as listed, from the first
                bool listed = true;
                for (AheadFile& file : batch.files) {
                    file_read_ahead(batch.paths.c_str() + file.pathAt, batch.bytes.get() + file.bytesAt,
                                    file.size + 1, &file.outcome);
                    listed = listed && file.outcome.read && file.outcome.got == file.size;
                    if (listed) {
                        whole = file.bytesAt + file.size;
                    }
                }
                if (target != INVALID_FILE) {
                    batch.written =
                        whole == 0 || made_file_write_at(target, batch.files.front().offset, batch.bytes.get(), whole) == 1;
                }
                if (archive != INVALID_FILE && batch.archived) {
                    compare_with_archive(archive, batch.bytes.get(), batch.archived.get(), batch.files);
                }
            });
        } catch (const std::bad_alloc&) {
            ended_ = true;  // what was not read ahead, the run reads itself
            return;
        }
        ++count_;
    }
}

const AheadFile* ReadAhead::take(std::uint32_t key) {
    // The first file is read where the run would read it, no sooner.
    if (on_ && !started_) {
        started_ = true;
        fill();
    }
    while (count_ > 0) {
        Batch& batch = batches_[first_];
        pool_.wait_for(batch.ticket);
        while (batch.next < batch.files.size()) {
            const AheadFile& file = batch.files[batch.next];
            if (file.key > key) {
                return nullptr;
            }
            ++batch.next;
            if (file.key == key) {
                writeDue_ = writes() && !batch.taken;
                batch.taken = true;
                return &file;
            }
        }
        first_ = (first_ + 1) % batches_.size();
        --count_;
        fill();
    }
    return nullptr;
}

bool ReadAhead::batch_write_to_take(bool* written) {
    if (!writeDue_) {
        return false;
    }
    writeDue_ = false;
    *written = batches_[first_].written;
    return true;
}

const char* ReadAhead::path_of(const AheadFile& file) const {
    return batches_[first_].paths.c_str() + file.pathAt;
}

const std::uint8_t* ReadAhead::bytes_of(const AheadFile& file) const {
    return batches_[first_].bytes.get() + file.bytesAt;
}
