// See archive_table.h.
#include "lib/archive_table.h"

#include <new>

#include "archive/index_window.h"
#include "common/ascii.h"
#include "common/limits.h"

namespace {

// The game's rule: '/' and '\' alike, a-z as A-Z.
unsigned char folded(char c) {
    return static_cast<unsigned char>(c == '/' ? '\\' : ascii_upper(c));
}

std::uint32_t name_hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : name) {
        hash = (hash ^ folded(c)) * 16777619u;
    }
    return hash;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folded(a[i]) != folded(b[i])) {
            return false;
        }
    }
    return true;
}

int read_window(void* context, std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    const ArchiveSource& source = *static_cast<const ArchiveSource*>(context);
    return source.read(source.context, offset, buffer, count, got);
}

// The walk: each entry's place and name length, until the header's count.
OpenFault walk_index(ArchiveTable& table, const ArchiveSource& source, std::uint32_t length) {
    IndexWindow window;
    if (!window_open_reader(window, read_window, const_cast<ArchiveSource*>(&source), HEADER_SIZE, length,
                            INDEX_WINDOW)) {
        return OpenFault::no_memory;
    }
    // Each entry takes 9 bytes at least: no count the index cannot hold is
    // reserved.
    auto count = static_cast<std::uint32_t>(table.header.fileCount);
    std::uint32_t most = length / ENTRY_FIXED_SIZE;
    table.entries.reserve(count < most ? count : most);
    std::uint32_t at = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        BigEntry entry;
        switch (window_entry(window, at, &entry)) {
        case WindowStatus::found: break;
        case WindowStatus::missing: return OpenFault::count_mismatch;
        case WindowStatus::read_failed: return OpenFault::cannot_read;
        }
        table.entries.push_back({at, entry.nameLength, 0});
        at += static_cast<std::uint32_t>(ENTRY_FIXED_SIZE) + entry.nameLength;
    }
    return OpenFault::none;
}

// The entries' bytes, from the index's start to the last entry's end.
OpenFault load_entries(ArchiveTable& table, const ArchiveSource& source) {
    const TableEntry& last = table.entries.back();
    std::uint32_t end = last.at + static_cast<std::uint32_t>(ENTRY_FIXED_SIZE) + last.nameLength;
    table.index.reset(new (std::nothrow) std::uint8_t[end]);
    if (!table.index) {
        return OpenFault::no_memory;
    }
    std::uint32_t got = 0;
    if (!source.read(source.context, HEADER_SIZE, table.index.get(), end, &got) || got != end) {
        return OpenFault::cannot_read;  // cut short since the walk
    }
    // The walk found every terminator; bytes read again must hold them too.
    for (const TableEntry& entry : table.entries) {
        if (table.index[entry.at + ENTRY_NAME_AT + entry.nameLength] != 0) {
            return OpenFault::cannot_read;
        }
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
        std::uint32_t& head = table.buckets[name_hash(table_name(table, k)) & (size - 1)];
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
    if (OpenFault fault = walk_index(table, source, index_length(table.header, source.size));
        fault != OpenFault::none) {
        return fault;
    }
    if (OpenFault fault = load_entries(table, source); fault != OpenFault::none) {
        return fault;
    }
    hash_names(table);
    return OpenFault::none;
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
        table = ArchiveTable{};
    }
    return fault;
}

namespace {

// Calls `found(k)` for each entry named `name`, in index order, until it
// returns false.
template <typename Found>
void each_named(const ArchiveTable& table, std::string_view name, Found found) {
    if (table.buckets.empty()) {
        return;
    }
    std::uint32_t next = table.buckets[name_hash(name) & (table.buckets.size() - 1)];
    while (next != 0) {
        std::uint32_t k = next - 1;
        if (same_name(table_name(table, k), name) && !found(k)) {
            return;
        }
        next = table.entries[k].next;
    }
}

}  // namespace

std::optional<std::uint32_t> table_lookup(const ArchiveTable& table, std::string_view name) {
    std::optional<std::uint32_t> first;
    each_named(table, name, [&](std::uint32_t k) {
        first = k;
        return false;
    });
    return first;
}

bool table_mark_named(const ArchiveTable& table, std::string_view name, std::vector<bool>& selected) {
    bool any = false;
    each_named(table, name, [&](std::uint32_t k) {
        selected[k] = true;
        any = true;
        return true;
    });
    return any;
}
