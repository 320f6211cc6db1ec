// write_archive (archive_writer.h): the one pass that writes a planned
// archive, each entry's place in the index and then its data.
#include "lib/format/big_format.h"
#include "lib/text/joined.h"
#include "lib/writer/archive_writer.h"
#include "lib/writer/index_writer.h"
#include "lib/writer/output_buffer.h"

namespace {

// Data goes through one buffer: small entries gathered many to a write,
// large ones in pieces of its size.
constexpr std::uint32_t WRITE_CHUNK = 1024 * 1024;

// `size` bytes of `source` from `from` on, after the bytes held: by the
// system's copy where the source is a plain file and they are many, and
// through the buffer for the rest. WriteFault::none, or what failed.
WriteFault write_source(OutputBuffer& out, const ArchiveSource& source, std::uint64_t from, std::uint64_t size) {
    std::uint64_t done = 0;
    if (size >= WRITE_CHUNK && source.file != INVALID_FILE) {
        bool written = true;
        done = out.copy(source.file, from, size, &written);
        if (!written) {
            return WriteFault::write_failed;
        }
    }
    while (done < size) {
        if (out.held == WRITE_CHUNK && !out.flush()) {
            return WriteFault::write_failed;
        }
        const std::uint64_t room = WRITE_CHUNK - out.held;
        const auto take = static_cast<std::uint32_t>(size - done < room ? size - done : room);
        std::uint32_t got = 0;
        if (source.read(source.context, from + done, out.buffer.get() + out.held, take, &got) == 0 || got == 0 ||
            got > take) {
            return WriteFault::read_source;
        }
        out.held += got;
        done += got;
    }
    return WriteFault::none;
}

// What a failure to write a source's data says.
WriteOutcome source_failure(WriteFault fault, std::uint32_t k) {
    return {fault, k, fault == WriteFault::write_failed ? "Could not write to BIG file." : "Could not read from BIG file."};
}

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
    bool write_to(OutputBuffer& out) {
        const ArchiveSource* what = source;
        source = nullptr;
        fault = what != nullptr ? write_source(out, *what, from, size) : WriteFault::none;
        return fault == WriteFault::none;
    }
};


// Entry k's data from the file at `path` (or as the plan's owner read it
// ahead), one byte further than its size asked for, to see it grew.
WriteOutcome write_file_data(const EntryPlan& plan, std::uint32_t k, const PlannedEntry& entry, OutputBuffer& out) {
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
WriteOutcome write_held_data(std::uint32_t k, const PlannedEntry& entry, OutputBuffer& out) {
    if (entry.bytes != nullptr) {
        return out.append(entry.bytes, entry.size) ? WriteOutcome{}
                                                    : WriteOutcome{WriteFault::write_failed, k, "Could not write to BIG file."};
    }
    const WriteFault fault = write_source(out, *entry.source, entry.offset, entry.size);
    return fault == WriteFault::none ? WriteOutcome{} : source_failure(fault, k);
}

}  // namespace

WriteOutcome write_archive(const EntryPlan& plan, std::uint64_t index_bytes, const char* target,
                           WriteCalls& calls, WriteObserver* observer) {
    const std::uint32_t count = plan.count();
    if (count == 0) {
        return {WriteFault::empty, 0, "An archive with no entry cannot be read."};
    }
    IndexWriter index(calls, index_bytes);
    const std::uint64_t start = index.data_start();
    OutputBuffer out(calls, WRITE_CHUNK, start);
    if (!out.buffer || !index.ready()) {
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
    KeptRun run;
    for (std::uint32_t k = 0; k < count; ++k) {
        const PlannedEntry entry = plan.entry(k);
        if (plan.lost()) {
            return fail({WriteFault::plan_failed, k, ""});
        }
        outcome = index.add(k, entry, &plan);
        if (outcome.fault != WriteFault::none) {
            return fail(std::move(outcome));
        }
        const bool small_kept = entry.source != nullptr && entry.size < WRITE_CHUNK;
        if (!small_kept || !run.takes(entry)) {
            if (!run.write_to(out)) {
                return fail(source_failure(run.fault, k));
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
        return fail(source_failure(run.fault, count));
    }
    if (!out.flush()) {
        return fail({WriteFault::write_failed, count, "Could not write to BIG file."});
    }
    outcome = index.end(count);
    if (outcome.fault == WriteFault::none) {
        outcome = write_header(calls, count, start, out.at);
    }
    if (outcome.fault != WriteFault::none) {
        return fail(std::move(outcome));
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

