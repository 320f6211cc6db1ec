// See read_ahead.h.
#include "create/read_ahead.h"

#include <new>

namespace {

// A batch holds this many files at most, so that tiny files too come in
// shares that keep every worker busy.
constexpr std::size_t BATCH_FILES = 64;

}  // namespace

ReadAhead::ReadAhead(WorkPool& pool, Source source)
    : pool_(pool), source_(std::move(source)), on_(pool.workers() > 0 && reading_ahead_allowed()) {
    if (on_) {
        batches_.resize(AHEAD_BATCHES);
    }
}

ReadAhead::~ReadAhead() {
    // The workers write into the batches: none may be left in flight.
    if (count_ > 0) {
        pool_.wait_for(batches_[(first_ + count_ - 1) % batches_.size()].ticket);
    }
}

bool ReadAhead::fill_batch(Batch& batch) {
    if (!batch.bytes) {
        batch.bytes.reset(new (std::nothrow) std::uint8_t[AHEAD_BATCH_BYTES]);
        if (!batch.bytes) {
            return false;  // the run reads the rest itself
        }
    }
    batch.files.clear();
    batch.paths.clear();
    batch.next = 0;
    std::uint32_t used = 0;
    while (batch.files.size() < BATCH_FILES) {
        if (!held_ && !(held_ = source_(&heldKey_, &heldPath_, &heldSize_))) {
            ended_ = true;
            break;
        }
        if (AHEAD_BATCH_BYTES - used < heldSize_ + 1) {
            break;  // it starts the next batch
        }
        batch.files.push_back({heldKey_, heldSize_, static_cast<std::uint32_t>(batch.paths.size()), used, {}});
        batch.paths.append(heldPath_);
        batch.paths.push_back('\0');
        used += heldSize_ + 1;
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
            batch.ticket = pool_.run([&batch] {
                for (AheadFile& file : batch.files) {
                    file_read_ahead(batch.paths.c_str() + file.pathAt, batch.bytes.get() + file.bytesAt,
                                    file.size + 1, &file.outcome);
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
                return &file;
            }
        }
        first_ = (first_ + 1) % batches_.size();
        --count_;
        fill();
    }
    return nullptr;
}

const char* ReadAhead::path_of(const AheadFile& file) const {
    return batches_[first_].paths.c_str() + file.pathAt;
}

const std::uint8_t* ReadAhead::bytes_of(const AheadFile& file) const {
    return batches_[first_].bytes.get() + file.bytesAt;
}
