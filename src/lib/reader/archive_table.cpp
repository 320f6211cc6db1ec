// See archive_table.h.
#include "lib/reader/archive_table.h"

#include <cstring>
#include <functional>
#include <new>

#include "lib/reader/game_name.h"

namespace {

// The index is read in pieces of at least this size, the buffer growing
// by half again each time at least: an index of n bytes costs about
// log(n) reads, and never more than one piece past the last entry.
constexpr std::uint32_t INDEX_PIECE = 1u << 20;

// Reads the index until it holds the header's count of entries, each
// recorded as it is found whole.
OpenFault read_index(ArchiveTable& table, const ArchiveSource& source, std::uint32_t length) {
    // Each entry takes 9 bytes at least: no count the index cannot hold is
    // reserved.
    auto count = static_cast<std::uint32_t>(table.header.fileCount);
    std::uint32_t most = length / ENTRY_FIXED_SIZE;
    table.entries.reserve(count < most ? count : most);
    std::uint32_t held = 0;
    std::uint32_t room = 0;
    std::uint32_t at = 0;       // the entry being looked for
    std::uint32_t scanned = 0;  // how far its name was searched for its end
    while (table.entries.size() < count) {
        if (at + ENTRY_NAME_AT < held) {
            std::uint32_t from = scanned > at + ENTRY_NAME_AT ? scanned : at + static_cast<std::uint32_t>(ENTRY_NAME_AT);
            const void* zero = std::memchr(table.index.get() + from, 0, held - from);
            if (zero != nullptr) {
                auto end = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(zero) - table.index.get());
                table.entries.push_back({at, end - at - static_cast<std::uint32_t>(ENTRY_NAME_AT), 0});
                at = end + 1;
                continue;
            }
            scanned = held;
        }
        if (held == length) {
            return OpenFault::count_mismatch;
        }
        std::uint32_t want = length - held;
        std::uint32_t step = held / 2 > INDEX_PIECE ? held / 2 : INDEX_PIECE;
        want = want < step ? want : step;
        if (held + want > room) {
            void* grown = std::realloc(table.index.get(), held + want);
            if (grown == nullptr) {
                return OpenFault::no_memory;
            }
            static_cast<void>(table.index.release());
            table.index.reset(static_cast<std::uint8_t*>(grown));
            room = held + want;
        }
        std::uint32_t got = 0;
        if (!source.read(source.context, HEADER_SIZE + held, table.index.get() + held, want, &got)) {
            return OpenFault::cannot_read;
        }
        held += got;
        if (got < want) {
            length = held;  // the file is shorter than it was
        }
    }
    // What was read past the last entry goes back.
    if (void* fitted = std::realloc(table.index.get(), at > 0 ? at : 1)) {
        static_cast<void>(table.index.release());
        table.index.reset(static_cast<std::uint8_t*>(fitted));
    }
    return OpenFault::none;
}

void hash_names(ArchiveTable& table) {
    std::size_t size = 1;
    while (size < table.entries.size()) {
        size <<= 1;
    }
    table.buckets.assign(size, 0);
    // From the last entry to the first, so that each bucket lists its
    // entries in index order.
    for (auto k = static_cast<std::uint32_t>(table.entries.size()); k-- > 0;) {
        std::uint32_t& head = table.buckets[game_name_hash(table_name(table, k)) & (size - 1)];
        table.entries[k].next = head;
        head = k + 1;
    }
}

OpenFault build(ArchiveTable& table, const ArchiveSource& source) {
    // A short header is judged as it stands: the missing bytes stay zero.
    std::uint8_t bytes[HEADER_SIZE] = {};
    std::uint32_t got = 0;
    if (!source.read(source.context, 0, bytes, HEADER_SIZE, &got)) {
        return OpenFault::cannot_read;
    }
    table.header = decode_header(bytes);
    if (OpenFault fault = judge_header(table.header, source.size); fault != OpenFault::none) {
        return fault;
    }
    return read_index(table, source, index_length(table.header, source.size));
}

}  // namespace

OpenFault table_open(ArchiveTable& table, const ArchiveSource& source) {
    OpenFault fault = OpenFault::no_memory;
    try {
        fault = build(table, source);
    } catch (const std::bad_alloc&) {
        fault = OpenFault::no_memory;
    }
    if (fault != OpenFault::none) {
        table.index.reset();
        table.entries = {};
    }
    return fault;
}

namespace {

// Calls `found(k)` for each entry named `name`, in index order, until it
// returns false.
template <typename Found>
void each_named(ArchiveTable& table, std::string_view name, Found found) {
    std::call_once(table.hashed, hash_names, std::ref(table));
    if (table.buckets.empty()) {
        return;
    }
    std::uint32_t next = table.buckets[game_name_hash(name) & (table.buckets.size() - 1)];
    while (next != 0) {
        std::uint32_t k = next - 1;
        if (same_game_name(table_name(table, k), name) && !found(k)) {
            return;
        }
        next = table.entries[k].next;
    }
}

}  // namespace

std::optional<std::uint32_t> table_lookup(ArchiveTable& table, std::string_view name) {
    std::optional<std::uint32_t> first;
    each_named(table, name, [&](std::uint32_t k) {
        first = k;
        return false;
    });
    return first;
}

std::uint32_t table_count_named(ArchiveTable& table, std::string_view name, std::uint32_t* first) {
    std::uint32_t count = 0;
    each_named(table, name, [&](std::uint32_t k) {
        *first = k;
        return ++count < 2;
    });
    return count;
}

bool table_mark_named(ArchiveTable& table, std::string_view name, std::vector<bool>& selected) {
    bool any = false;
    each_named(table, name, [&](std::uint32_t k) {
        selected[k] = true;
        any = true;
        return true;
    });
    return any;
}
