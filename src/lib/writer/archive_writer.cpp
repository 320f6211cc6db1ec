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

WriteFault failed(WriteOutcome* outcome, WriteFault fault, std::uint32_t entry, std::string message) {
    if (outcome != nullptr) {
        *outcome = {fault, entry, std::move(message)};
    }
    return fault;
}

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

WriteOutcome ArchiveWriter::write(const char* target, WriteObserver* observer) const {
    SystemCalls calls(replacing_);
    return write_archive(*this, indexBytes_, target, calls, observer);
}
