// See archive_writer.h.
#include "lib/writer/archive_writer.h"

#include <chrono>
#include <cstring>
#include <new>

#include "lib/format/big_format.h"
#include "lib/reader/game_name.h"
#include "lib/text/entry_name.h"
#include "lib/text/joined.h"
#include "lib/writer/name_beside.h"
#include "platform/platform.h"

namespace {

// Data goes through one buffer: small entries gathered many to a write,
// large ones in pieces of its size.
constexpr std::uint32_t WRITE_CHUNK = 1024 * 1024;

// The index is written in pieces of this size, before the data.
constexpr std::uint32_t INDEX_PIECE = 64 * 1024;

// A leftover of a run that was killed may hold a name this one would try.
constexpr unsigned NAME_TRIES = 100;

std::string quoted_name(std::string_view name) {
    // Cut as the reader's messages cut a name.
    constexpr std::size_t SHOWN = 260;
    return joined({"'", name.substr(0, SHOWN), name.size() > SHOWN ? "...'" : "'"});
}

WriteFault failed(WriteOutcome* outcome, WriteFault fault, std::uint32_t entry, std::string message) {
    if (outcome != nullptr) {
        *outcome = {fault, entry, std::move(message)};
    }
    return fault;
}

// The new file and what has been written to it: data goes through the
// buffer, the index in pieces.
struct Output {
    FileHandle file = INVALID_FILE;
    std::string path;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::uint32_t held = 0;  // bytes in the buffer, for `at` onwards
    std::uint64_t at = 0;

    bool flush() {
        if (held > 0 && !made_file_write_at(file, at, buffer.get(), held)) {
            return false;
        }
        at += held;
        held = 0;
        return true;
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
            if (!out.flush()) {
                fault = WriteFault::write_failed;
                return false;
            }
            done = made_file_copy(what->file, from, out.file, out.at, size);
            out.at += done;
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
};

}  // namespace

WriteFault judge_name(std::string_view name, PathStyle style, std::uint32_t k, WriteOutcome* outcome) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return failed(outcome, WriteFault::bad_name, k,
                      quoted_name(name) + " cannot be stored: an entry's name is 1 or more bytes, none of them 0.");
    }
    if (!is_safe_entry_name(without_trailing_separators(name), style) || has_empty_component(name)) {
        return failed(outcome, WriteFault::unsafe_name, k,
                      quoted_name(name) + " cannot be stored: its name would be unsafe to extract.");
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
                      quoted_name(name) + " cannot be stored: an entry's name is 1 or more bytes, none of them 0.");
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
                          joined({quoted_name(name), " cannot be stored: ", quoted_name(name_of(*other)),
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
        return failed(outcome, WriteFault::open_input, count(), joined({"Could not open ", quoted_name(path), "."}));
    }
    file_close_shared(file);
    if (!fits_archive(size)) {
        return failed(outcome, WriteFault::too_large, count(),
                      quoted_name(path) + " is 4 GiB or larger, too large for a BIG archive.");
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

// Where the new file goes: beside the target, under a name no file has.
WriteOutcome make_output(const char* target, const void* writer, bool replacing, Output* out) {
    if (!replacing && made_name_taken(target)) {
        return {WriteFault::exists, 0, quoted_name(target) + " exists already. It is left as it is."};
    }
    auto tick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    auto mark = static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(writer));
    for (unsigned i = 0; i < NAME_TRIES; ++i) {
        out->path = name_beside(target, ".tmp-" + std::to_string((tick ^ (mark << 7)) % 1000000007u + i));
        if (out->path.empty()) {
            return {WriteFault::create_failed, 0,
                    joined({"The name ", quoted_name(target), " is too long for a temporary file beside it."})};
        }
        out->file = made_file_create(out->path.c_str());
        if (out->file != INVALID_FILE) {
            return {};
        }
        if (!made_name_taken(out->path.c_str())) {
            break;
        }
    }
    return {WriteFault::create_failed, 0, joined({"Could not create ", quoted_name(out->path), "."})};
}

}  // namespace

WriteOutcome write_archive(const EntryPlan& plan, std::uint64_t index_bytes, const char* target,
                           FileHandle replacing, WriteObserver* observer) {
    // The file being replaced goes with this call, whatever happens.
    struct Release {
        FileHandle file;
        ~Release() {
            if (file != INVALID_FILE) {
                file_close_shared(file);
            }
        }
    } replaced{replacing};
    const std::uint32_t count = plan.count();
    if (count == 0) {
        return {WriteFault::empty, 0, "An archive with no entry cannot be read."};
    }
    Output out;
    out.buffer.reset(new (std::nothrow) std::uint8_t[WRITE_CHUNK]);
    if (!out.buffer) {
        return {WriteFault::no_memory, 0, "Failed to allocate enough memory."};
    }
    WriteOutcome outcome = make_output(target, &plan, replacing != INVALID_FILE, &out);
    if (outcome.fault != WriteFault::none) {
        return outcome;
    }
    if (replacing != INVALID_FILE) {
        take_permissions(out.file, target);
    }
    auto fail = [&](WriteFault fault, std::uint32_t k, std::string message) {
        made_file_discard(out.file, out.path.c_str());
        return WriteOutcome{fault, k, std::move(message)};
    };
    const std::uint64_t start = HEADER_SIZE + index_bytes + END_RECORD_SIZE;

    // The index and its end record, in pieces through the buffer.
    out.at = HEADER_SIZE;
    std::uint64_t offset = start;
    for (std::uint32_t k = 0; k < count; ++k) {
        const PlannedEntry entry = plan.entry(k);
        const std::string_view name = entry.name;
        if (out.held + ENTRY_FIXED_SIZE + name.size() > INDEX_PIECE && !out.flush()) {
            return fail(WriteFault::write_failed, 0, "Could not write end entry.");
        }
        // A name longer than a piece goes in whole.
        if (ENTRY_FIXED_SIZE + name.size() > WRITE_CHUNK) {
            std::uint8_t fields[ENTRY_NAME_AT];
            store_entry_fields(fields, static_cast<std::uint32_t>(offset), entry.size);
            if (!made_file_write_at(out.file, out.at, fields, ENTRY_NAME_AT) ||
                !made_file_write_at(out.file, out.at + ENTRY_NAME_AT, name.data(),
                                    static_cast<std::uint32_t>(name.size())) ||
                !made_file_write_at(out.file, out.at + ENTRY_NAME_AT + name.size(), "", 1)) {
                return fail(WriteFault::write_failed, 0, "Could not write end entry.");
            }
            out.at += ENTRY_FIXED_SIZE + name.size();
        } else {
            std::uint8_t* at = out.buffer.get() + out.held;
            store_entry_fields(at, static_cast<std::uint32_t>(offset), entry.size);
            std::memcpy(at + ENTRY_NAME_AT, name.data(), name.size());
            at[ENTRY_NAME_AT + name.size()] = 0;
            out.held += static_cast<std::uint32_t>(ENTRY_FIXED_SIZE + name.size());
        }
        offset += entry.size;
    }
    store_end_record(out.buffer.get() + out.held);
    out.held += END_RECORD_SIZE;
    if (!out.flush()) {
        return fail(WriteFault::write_failed, 0, "Could not write end entry.");
    }

    // The data, gathered through the buffer. Sources' small entries that
    // follow on in their source are read together.
    KeptRun run;
    for (std::uint32_t k = 0; k < count; ++k) {
        const PlannedEntry entry = plan.entry(k);
        const char* path = entry.path;
        if (observer != nullptr) {
            observer->begin(k, {entry.name, entry.size, path});
        }
        const bool small_kept = entry.source != nullptr && entry.size < WRITE_CHUNK;
        if (!small_kept || !run.takes(entry)) {
            if (!run.write_to(out)) {
                return fail(run.fault, k, run.fault == WriteFault::write_failed ? "Could not write to BIG file."
                                                                                 : "Could not read from BIG file.");
            }
            if (small_kept) {
                run = {entry.source, entry.offset, entry.size};
            }
        }
        if (small_kept) {
            if (observer != nullptr) {
                observer->end(k);
            }
            continue;
        }
        FileHandle input = INVALID_FILE;
        if (path != nullptr) {
            std::uint64_t size = 0;
            input = file_open_shared(path, &size);
            if (input == INVALID_FILE) {
                return fail(WriteFault::open_input, k, joined({"Could not open ", quoted_name(path), "."}));
            }
        }
        std::uint32_t done = 0;
        // Large data of a plain file the system copies itself, from where
        // the buffer's bytes end.
        if (entry.source != nullptr && entry.size >= WRITE_CHUNK && entry.source->file != INVALID_FILE) {
            if (!out.flush()) {
                return fail(WriteFault::write_failed, k, "Could not write to BIG file.");
            }
            done = static_cast<std::uint32_t>(
                made_file_copy(entry.source->file, entry.offset, out.file, out.at, entry.size));
            out.at += done;
        }
        // A file is read one byte further than its size, to see it grew.
        const std::uint32_t want = entry.size + (path != nullptr ? 1u : 0u);
        bool read = true;
        while (read && done < want) {
            if (out.held == WRITE_CHUNK && !out.flush()) {
                if (input != INVALID_FILE) {
                    file_close_shared(input);
                }
                return fail(WriteFault::write_failed, k, "Could not write to BIG file.");
            }
            const std::uint32_t room = WRITE_CHUNK - out.held;
            const std::uint32_t take = want - done < room ? want - done : room;
            std::uint8_t* into = out.buffer.get() + out.held;
            std::uint32_t got = take;
            if (entry.bytes != nullptr) {
                std::memcpy(into, entry.bytes + done, take);
            } else if (path != nullptr) {
                read = file_read_at(input, done, into, take, &got) != 0;
            } else {
                read = entry.source->read(entry.source->context, entry.offset + done, into, take, &got) != 0;
            }
            if (read) {
                out.held += got;
                done += got;
            }
            if (got < take) {
                break;  // its end
            }
        }
        if (input != INVALID_FILE) {
            file_close_shared(input);
        }
        if (path == nullptr && (!read || done < entry.size)) {
            return fail(WriteFault::read_source, k, "Could not read from BIG file.");
        }
        if (!read) {
            return fail(WriteFault::read_input, k, "Could not read file.");
        }
        if (done < entry.size) {
            return fail(WriteFault::input_shrank, k, "The file shrank while the archive was made.");
        }
        if (done > entry.size) {
            return fail(WriteFault::input_grew, k, "The file grew while the archive was made.");
        }
        if (observer != nullptr) {
            observer->end(k);
        }
    }
    if (!run.write_to(out)) {
        return fail(run.fault, count, run.fault == WriteFault::write_failed ? "Could not write to BIG file."
                                                                             : "Could not read from BIG file.");
    }
    if (!out.flush()) {
        return fail(WriteFault::write_failed, count, "Could not write to BIG file.");
    }

    // The header last: a file left part way has zeros where the magic goes.
    std::uint8_t header[HEADER_SIZE] = {};
    store_header(header, static_cast<std::uint32_t>(out.at), count, static_cast<std::uint32_t>(start));
    if (!made_file_write_at(out.file, 0, header, HEADER_SIZE)) {
        return fail(WriteFault::write_failed, count, "Could not write BIG header.");
    }
    if (!made_file_sync(out.file)) {
        return fail(WriteFault::write_failed, count, "Could not write to BIG file.");
    }
    if (observer != nullptr && !observer->publish()) {
        return fail(WriteFault::abandoned, count, "");
    }
    if (replacing != INVALID_FILE) {
        replaced.file = INVALID_FILE;  // made_file_replace closes it
        switch (made_file_replace(out.file, out.path.c_str(), target, replacing)) {
        case ReplaceStatus::replaced: return {};
        case ReplaceStatus::in_use:
            return {WriteFault::write_failed, count,
                    joined({"Could not replace ", quoted_name(target), ": another program has it open. It is unchanged."})};
        case ReplaceStatus::changed:
            return {WriteFault::write_failed, count,
                    joined({"Could not replace ", quoted_name(target), ": another program replaced it first."})};
        case ReplaceStatus::failed: break;
        }
        return {WriteFault::write_failed, count, joined({"Could not replace ", quoted_name(target), ". It is unchanged."})};
    }
    switch (made_file_publish(out.file, out.path.c_str(), target)) {
    case PublishStatus::published: return {};
    case PublishStatus::exists:
        return {WriteFault::exists, count, quoted_name(target) + " exists already. It is left as it is."};
    case PublishStatus::failed: break;
    }
    return {WriteFault::create_failed, count, joined({"Could not create ", quoted_name(target), "."})};
}

WriteOutcome ArchiveWriter::write(const char* target, WriteObserver* observer) const {
    return write_archive(*this, indexBytes_, target, replacing_, observer);
}
