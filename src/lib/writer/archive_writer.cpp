// See archive_writer.h.
#include "lib/writer/archive_writer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/format/big_format.h"
#include "lib/reader/game_name.h"
#include "lib/text/entry_name.h"
#include "lib/text/joined.h"
#include "platform/platform.h"

namespace {

// Data goes through one buffer: small entries gathered many to a write,
// large ones in pieces of its size.
constexpr std::uint32_t WRITE_CHUNK = 1024 * 1024;

WriteFault failed(WriteOutcome* outcome, WriteFault fault, std::uint32_t entry, std::string message) {
    if (outcome != nullptr) {
        *outcome = {fault, entry, std::move(message)};
    }
    return fault;
}

// What has been written to the new file: data goes through the buffer.
struct Output {
    WriteCalls& calls;
    std::uint32_t capacity;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::uint32_t held = 0;  // bytes in the buffer, for `at` onwards
    std::uint64_t at = 0;

    Output(WriteCalls& to, std::uint32_t size)
        : calls(to), capacity(size), buffer(new (std::nothrow) std::uint8_t[size]) {}

    bool flush() {
        if (held > 0 && !calls.write_at(at, buffer.get(), held)) {
            return false;
        }
        at += held;
        held = 0;
        return true;
    }

    // `count` bytes after those held, the buffer written each time it fills.
    bool append(const void* bytes, std::size_t count) {
        const auto* from = static_cast<const std::uint8_t*>(bytes);
        while (count > 0) {
            if (held == capacity && !flush()) {
                return false;
            }
            const std::size_t take = std::min<std::size_t>(count, capacity - held);
            std::memcpy(buffer.get() + held, from, take);
            held += static_cast<std::uint32_t>(take);
            from += take;
            count -= take;
        }
        return true;
    }

    // The system's copy of up to `count` bytes of `source` from `from`, after
    // the bytes held: those it copied.
    std::uint64_t copy(FileHandle source, std::uint64_t from, std::uint64_t count, bool* written) {
        *written = flush();
        if (!*written) {
            return 0;
        }
        const std::uint64_t done = calls.copy(source, from, at, count);
        at += done;
        return done;
    }
};

// Small entries of one source whose data follow on there, written in one
// go: one read (or the system's copy) for many entries. A run is written
// once it holds RUN_LIMIT bytes, so that the entries' progress does not run
// far ahead of their data.
struct KeptRun {
    static constexpr std::uint64_t RUN_LIMIT = 16 * 1024 * 1024;

    const ArchiveSource* source = nullptr;
    std::uint64_t from = 0;
    std::uint64_t size = 0;
    WriteFault fault = WriteFault::none;

    bool takes(const PlannedEntry& entry) {
        if (source == nullptr || entry.source->read != source->read || entry.source->context != source->context ||
            entry.offset != from + size || size + entry.size > RUN_LIMIT) {
            return false;
        }
        size += entry.size;
        return true;
    }

    // Writes the run and empties it: false with `fault` when it could not.
    bool write_to(Output& out) {
        const ArchiveSource* what = source;
        source = nullptr;
        std::uint64_t done = 0;
        if (what != nullptr && size >= WRITE_CHUNK && what->file != INVALID_FILE) {
            bool written = true;
            done = out.copy(what->file, from, size, &written);
            if (!written) {
                fault = WriteFault::write_failed;
                return false;
            }
        }
        while (what != nullptr && done < size) {
            if (out.held == WRITE_CHUNK && !out.flush()) {
                fault = WriteFault::write_failed;
                return false;
            }
            const std::uint64_t room = WRITE_CHUNK - out.held;
            const auto take = static_cast<std::uint32_t>(size - done < room ? size - done : room);
            std::uint32_t got = 0;
            if (what->read(what->context, from + done, out.buffer.get() + out.held, take, &got) == 0 || got == 0 ||
                got > take) {
                fault = WriteFault::read_source;
                return false;
            }
            out.held += got;
            done += got;
        }
        return true;
    }

    // The outcome of a run that could not be written, before entry `k`.
    WriteOutcome failure(std::uint32_t k) const {
        return {fault, k, fault == WriteFault::write_failed ? "Could not write to BIG file." : "Could not read from BIG file."};
    }
};

}  // namespace

WriteFault judge_name(std::string_view name, PathStyle style, std::uint32_t k, WriteOutcome* outcome) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return failed(outcome, WriteFault::bad_name, k,
                      quoted_for_message(name) + " cannot be stored: an entry's name is 1 or more bytes, none of them 0.");
    }
    if (!is_safe_entry_name(without_trailing_separators(name), style) || has_empty_component(name)) {
        return failed(outcome, WriteFault::unsafe_name, k,
                      quoted_for_message(name) + " cannot be stored: its name would be unsafe to extract.");
    }
    return WriteFault::none;
}

ArchiveWriter::ArchiveWriter(PathStyle style) : style_(style) {}

PlannedEntry ArchiveWriter::entry(std::uint32_t k) const {
    const Planned& planned = entries_[k];
    PlannedEntry entry{name_of(planned), planned.size, nullptr, nullptr, nullptr, planned.where};
    if (planned.from == FROM_BYTES) {
        entry.bytes = blobs_[planned.where].get();
    } else if (planned.from == FROM_FILE) {
        entry.path = paths_.c_str() + planned.where;
    } else {
        entry.source = &sources_[planned.from];
    }
    return entry;
}

const ArchiveWriter::Planned* ArchiveWriter::judged_named(std::string_view name) const {
    if (slots_.empty()) {
        return nullptr;
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = game_name_hash(name) & mask; slots_[at] != 0; at = (at + 1) & mask) {
        const Planned& other = entries_[slots_[at] - 1];
        if (same_game_name(name_of(other), name)) {
            return &other;
        }
    }
    return nullptr;
}

void ArchiveWriter::remember(std::uint32_t k) {
    if ((judged_ + 1) * std::uint64_t{2} > slots_.size()) {
        std::vector<std::uint32_t> grown(slots_.empty() ? 64 : slots_.size() * 2);
        const std::size_t mask = grown.size() - 1;
        for (std::uint32_t slot : slots_) {
            if (slot != 0) {
                std::size_t at = game_name_hash(name_of(entries_[slot - 1])) & mask;
                while (grown[at] != 0) {
                    at = (at + 1) & mask;
                }
                grown[at] = slot;
            }
        }
        slots_.swap(grown);
    }
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = game_name_hash(name_of(entries_[k])) & mask;
    while (slots_[at] != 0) {
        at = (at + 1) & mask;
    }
    slots_[at] = k + 1;
    ++judged_;
}

WriteFault ArchiveWriter::plan(std::string_view name, std::uint32_t size, std::uint32_t from,
                               std::uint64_t where, WriteOutcome* outcome, bool as_stored) {
    const auto k = static_cast<std::uint32_t>(entries_.size());
    if (name.find('\0') != std::string_view::npos || !fits_archive(names_.size() + name.size())) {
        return failed(outcome, WriteFault::bad_name, k,
                      quoted_for_message(name) + " cannot be stored: an entry's name is 1 or more bytes, none of them 0.");
    }
    if (!as_stored) {
        if (WriteFault fault = judge_name(name, style_, k, outcome); fault != WriteFault::none) {
            return fault;
        }
    }
    const std::uint64_t index = indexBytes_ + ENTRY_FIXED_SIZE + name.size();
    if (k == UINT32_MAX || !fits_archive(HEADER_SIZE + index + END_RECORD_SIZE + dataBytes_ + size)) {
        return failed(outcome, WriteFault::too_large, k, "The archive would reach 4 GiB.");
    }
    if (!as_stored) {
        if (const Planned* other = judged_named(name)) {
            return failed(outcome, WriteFault::same_name, k,
                          joined({quoted_for_message(name), " cannot be stored: ", quoted_for_message(name_of(*other)),
                                  " has the same name in the archive."}));
        }
    }
    try {
        entries_.push_back({where, static_cast<std::uint32_t>(names_.size()),
                            static_cast<std::uint32_t>(name.size()), size, from});
        names_.append(name);
        if (!as_stored) {
            remember(k);
        }
    } catch (const std::bad_alloc&) {
        if (entries_.size() > k) {
            entries_.pop_back();
        }
        names_.resize(entries_.empty() ? 0 : entries_.back().nameAt + entries_.back().nameLength);
        return failed(outcome, WriteFault::no_memory, k, "Failed to allocate enough memory.");
    }
    indexBytes_ = index;
    dataBytes_ += size;
    return WriteFault::none;
}

WriteFault ArchiveWriter::add_bytes(std::string_view name, const void* data, std::uint32_t size,
                                    WriteOutcome* outcome, bool as_stored) {
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!copy) {
        return failed(outcome, WriteFault::no_memory, count(), "Failed to allocate enough memory.");
    }
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    try {
        blobs_.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        return failed(outcome, WriteFault::no_memory, count(), "Failed to allocate enough memory.");
    }
    WriteFault fault = plan(name, size, FROM_BYTES, blobs_.size() - 1, outcome, as_stored);
    if (fault != WriteFault::none) {
        blobs_.pop_back();
        return fault;
    }
    blobs_.back() = std::move(copy);
    return fault;
}

WriteFault ArchiveWriter::add_file(std::string_view name, const char* path, WriteOutcome* outcome,
                                   bool as_stored) {
    std::uint64_t size = 0;
    FileHandle file = file_open_shared(path, &size);
    if (file == INVALID_FILE) {
        return failed(outcome, WriteFault::open_input, count(), joined({"Could not open ", quoted_for_message(path), "."}));
    }
    file_close_shared(file);
    if (!fits_archive(size)) {
        return failed(outcome, WriteFault::too_large, count(),
                      quoted_for_message(path) + " is 4 GiB or larger, too large for a BIG archive.");
    }
    const std::size_t at = paths_.size();
    try {
        paths_.append(path);
        paths_.push_back('\0');
    } catch (const std::bad_alloc&) {
        paths_.resize(at);
        return failed(outcome, WriteFault::no_memory, count(), "Failed to allocate enough memory.");
    }
    WriteFault fault = plan(name, static_cast<std::uint32_t>(size), FROM_FILE, at, outcome, as_stored);
    if (fault != WriteFault::none) {
        paths_.resize(at);
    }
    return fault;
}

WriteFault ArchiveWriter::add_source(std::string_view name, const ArchiveSource& source, std::uint64_t offset,
                                     std::uint32_t size, WriteOutcome* outcome, bool as_stored) {
    const bool same = !sources_.empty() && sources_.back().read == source.read &&
                      sources_.back().context == source.context;
    if (!same) {
        try {
            sources_.push_back(source);
        } catch (const std::bad_alloc&) {
            return failed(outcome, WriteFault::no_memory, count(), "Failed to allocate enough memory.");
        }
    }
    WriteFault fault =
        plan(name, size, static_cast<std::uint32_t>(sources_.size() - 1), offset, outcome, as_stored);
    if (fault != WriteFault::none && !same) {
        sources_.pop_back();
    }
    return fault;
}

namespace {

// The index, written in pieces of this size as the data is.
constexpr std::uint32_t INDEX_PIECE = 64 * 1024;

// The new index, from HEADER_SIZE on, up to `end`, where the planned
// index ends.
struct IndexOut {
    Output out;
    std::uint64_t end;

    bool fits(std::size_t count) const { return out.at + out.held + count <= end; }
};

// Entry k's place in the index: its fields, its data's `offset`, then its
// name, in pieces where the plan gives it so.
WriteOutcome index_entry(const EntryPlan& plan, std::uint32_t k, const PlannedEntry& entry, std::uint64_t offset,
                         IndexOut& index) {
    auto changed = [k] {
        return WriteOutcome{WriteFault::plan_failed, k, "The entries changed while the archive was written."};
    };
    auto unwritten = [k] { return WriteOutcome{WriteFault::write_failed, k, "Could not write end entry."}; };
    std::uint8_t fields[ENTRY_NAME_AT];
    store_entry_fields(fields, static_cast<std::uint32_t>(offset), entry.size);
    if (!index.fits(sizeof fields + entry.name.size())) {
        return changed();
    }
    if (!index.out.append(fields, sizeof fields) || !index.out.append(entry.name.data(), entry.name.size())) {
        return unwritten();
    }
    for (std::uint64_t at = entry.name.size(); at < entry.nameLength;) {
        const std::string_view piece = plan.name_piece(k, at);
        if (plan.lost()) {
            return {WriteFault::plan_failed, k, ""};
        }
        if (piece.empty() || !index.fits(piece.size())) {
            return changed();
        }
        if (!index.out.append(piece.data(), piece.size())) {
            return unwritten();
        }
        at += piece.size();
    }
    if (!index.fits(1)) {
        return changed();
    }
    return index.out.append("", 1) ? WriteOutcome{} : unwritten();
}

// The end record after the index, which must have ended where planned.
WriteOutcome end_index(std::uint32_t count, IndexOut& index) {
    std::uint8_t end[END_RECORD_SIZE];
    store_end_record(end);
    if (index.out.at + index.out.held != index.end) {
        return {WriteFault::plan_failed, count, "The entries changed while the archive was written."};
    }
    return index.out.append(end, sizeof end) && index.out.flush()
               ? WriteOutcome{}
               : WriteOutcome{WriteFault::write_failed, count, "Could not write end entry."};
}

// Entry k's data from the file at `path` (or as the plan's owner read it
// ahead), one byte further than its size asked for, to see it grew.
WriteOutcome write_file_data(const EntryPlan& plan, std::uint32_t k, const PlannedEntry& entry, Output& out) {
    const std::uint8_t* ahead = nullptr;
    std::uint32_t got = 0;
    bool read = true;
    switch (plan.fed(k, &ahead, &got)) {
    case FedFile::open_failed:
        return {WriteFault::open_input, k, joined({"Could not open ", quoted_for_message(entry.path), "."})};
    case FedFile::read_failed: read = false; break;
    case FedFile::read:
        if (got == entry.size && !out.append(ahead, got)) {
            return {WriteFault::write_failed, k, "Could not write to BIG file."};
        }
        break;
    case FedFile::none: {
        FileHandle input = out.calls.open_input(entry.path);
        if (input == INVALID_FILE) {
            return {WriteFault::open_input, k, joined({"Could not open ", quoted_for_message(entry.path), "."})};
        }
        // A large file the system copies itself, where it can.
        if (entry.size >= WRITE_CHUNK) {
            bool written = true;
            got = static_cast<std::uint32_t>(out.copy(input, 0, entry.size, &written));
            if (!written) {
                out.calls.close_input(input);
                return {WriteFault::write_failed, k, "Could not write to BIG file."};
            }
        }
        const std::uint32_t want = entry.size + 1;
        while (read && got < want) {
            if (out.held == WRITE_CHUNK && !out.flush()) {
                out.calls.close_input(input);
                return {WriteFault::write_failed, k, "Could not write to BIG file."};
            }
            const std::uint32_t room = WRITE_CHUNK - out.held;
            const std::uint32_t take = want - got < room ? want - got : room;
            std::uint32_t moved = 0;
            read = out.calls.read_input(input, got, out.buffer.get() + out.held, take, &moved);
            if (read) {
                out.held += moved;
                got += moved;
            }
            if (moved < take) {
                break;  // its end
            }
        }
        out.calls.close_input(input);
        break;
    }
    }
    if (!read) {
        return {WriteFault::read_input, k, "Could not read file."};
    }
    if (got < entry.size) {
        return {WriteFault::input_shrank, k, "The file shrank while the archive was made."};
    }
    if (got > entry.size) {
        return {WriteFault::input_grew, k, "The file grew while the archive was made."};
    }
    return {};
}

// Entry k's data from memory or from its source.
WriteOutcome write_held_data(std::uint32_t k, const PlannedEntry& entry, Output& out) {
    std::uint64_t done = 0;
    // Large data of a plain file the system copies itself, from where the
    // buffer's bytes end.
    if (entry.source != nullptr && entry.size >= WRITE_CHUNK && entry.source->file != INVALID_FILE) {
        bool written = true;
        done = out.copy(entry.source->file, entry.offset, entry.size, &written);
        if (!written) {
            return {WriteFault::write_failed, k, "Could not write to BIG file."};
        }
    }
    while (done < entry.size) {
        if (out.held == WRITE_CHUNK && !out.flush()) {
            return {WriteFault::write_failed, k, "Could not write to BIG file."};
        }
        const std::uint64_t room = WRITE_CHUNK - out.held;
        const auto take = static_cast<std::uint32_t>(entry.size - done < room ? entry.size - done : room);
        std::uint8_t* into = out.buffer.get() + out.held;
        std::uint32_t got = take;
        if (entry.bytes != nullptr) {
            std::memcpy(into, entry.bytes + done, take);
        } else if (entry.source->read(entry.source->context, entry.offset + done, into, take, &got) == 0 ||
                   got == 0 || got > take) {
            return {WriteFault::read_source, k, "Could not read from BIG file."};
        }
        out.held += got;
        done += got;
    }
    return {};
}

}  // namespace

WriteOutcome write_archive(const EntryPlan& plan, std::uint64_t index_bytes, const char* target,
                           WriteCalls& calls, WriteObserver* observer) {
    const std::uint32_t count = plan.count();
    if (count == 0) {
        return {WriteFault::empty, 0, "An archive with no entry cannot be read."};
    }
    Output out(calls, WRITE_CHUNK);
    IndexOut index{Output(calls, INDEX_PIECE), HEADER_SIZE + index_bytes};
    if (!out.buffer || !index.out.buffer) {
        return {WriteFault::no_memory, 0, "Failed to allocate enough memory."};
    }
    WriteOutcome outcome = calls.make(target);
    if (outcome.fault != WriteFault::none) {
        return outcome;
    }
    auto fail = [&](WriteOutcome failure) {
        calls.discard();
        return failure;
    };

    // One pass: each entry's place in the index, written in pieces, then
    // its data, gathered through the buffer. Sources' small entries that
    // follow on in their source are read together.
    const std::uint64_t start = HEADER_SIZE + index_bytes + END_RECORD_SIZE;
    index.out.at = HEADER_SIZE;
    out.at = start;
    std::uint64_t offset = start;
    KeptRun run;
    for (std::uint32_t k = 0; k < count; ++k) {
        const PlannedEntry entry = plan.entry(k);
        if (plan.lost()) {
            return fail({WriteFault::plan_failed, k, ""});
        }
        // Planned below 4 GiB; a plan read again must still be.
        if (!fits_archive(offset + entry.size)) {
            return fail({WriteFault::too_large, k, "The archive would reach 4 GiB."});
        }
        outcome = index_entry(plan, k, entry, offset, index);
        if (outcome.fault != WriteFault::none) {
            return fail(std::move(outcome));
        }
        offset += entry.size;
        const bool small_kept = entry.source != nullptr && entry.size < WRITE_CHUNK;
        if (!small_kept || !run.takes(entry)) {
            if (!run.write_to(out)) {
                return fail(run.failure(k));
            }
            if (small_kept) {
                run = {entry.source, entry.offset, entry.size};
            }
        }
        if (observer != nullptr) {
            observer->begin(k, {entry.name, entry.size, entry.path});
        }
        if (!small_kept) {
            outcome = entry.path != nullptr ? write_file_data(plan, k, entry, out) : write_held_data(k, entry, out);
            // A file's data is written before the observer hears of its
            // end: a failure to write it is that file's.
            if (outcome.fault == WriteFault::none && entry.path != nullptr && observer != nullptr && !out.flush()) {
                outcome = {WriteFault::write_failed, k, "Could not write to BIG file."};
            }
            if (outcome.fault != WriteFault::none) {
                return fail(std::move(outcome));
            }
        }
        if (observer != nullptr) {
            observer->end(k);
        }
    }
    if (!run.write_to(out)) {
        return fail(run.failure(count));
    }
    if (!out.flush()) {
        return fail({WriteFault::write_failed, count, "Could not write to BIG file."});
    }
    outcome = end_index(count, index);
    if (outcome.fault != WriteFault::none) {
        return fail(std::move(outcome));
    }

    // The header last: a file left part way has zeros where the magic goes.
    std::uint8_t header[HEADER_SIZE] = {};
    store_header(header, static_cast<std::uint32_t>(out.at), count, static_cast<std::uint32_t>(start));
    if (!calls.write_at(0, header, HEADER_SIZE)) {
        return fail({WriteFault::write_failed, count, "Could not write BIG header."});
    }
    if (!calls.sync()) {
        return fail({WriteFault::write_failed, count, "Could not write to BIG file."});
    }
    if (observer != nullptr && !observer->publish()) {
        return fail({WriteFault::abandoned, count, ""});
    }
    outcome = calls.finish(target);
    outcome.entry = count;
    return outcome;
}

WriteOutcome ArchiveWriter::write(const char* target, WriteObserver* observer) const {
    SystemCalls calls(replacing_);
    return write_archive(*this, indexBytes_, target, calls, observer);
}
