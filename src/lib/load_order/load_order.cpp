// See load_order.h.
#include "lib/load_order/load_order.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/reader/game_name.h"

namespace {

// Compared a piece at a time, whatever the entries' sizes.
constexpr std::uint32_t COMPARE_PIECE = 64 * 1024;

std::uint64_t slot_value(std::uint32_t hash, std::uint32_t k) {
    return std::uint64_t{hash} << 32 | (k + 1);
}

std::uint32_t slot_name(std::uint64_t value) {
    return static_cast<std::uint32_t>(value) - 1;
}

std::uint32_t next_slot(const Overlay& overlay, std::uint32_t slot) {
    return (slot + 1) & static_cast<std::uint32_t>(overlay.slots.size() - 1);
}

// The slot that holds `name`, whose mixed hash is `hash`, or the empty one
// where it would go. A slot keeps its name's hash: only a name of the same
// hash is read to be compared.
std::uint32_t probe(const Overlay& overlay, std::string_view name, std::uint32_t hash) {
    std::uint32_t slot = hash & static_cast<std::uint32_t>(overlay.slots.size() - 1);
    for (std::uint64_t value; (value = overlay.slots[slot]) != 0; slot = next_slot(overlay, slot)) {
        if (value >> 32 == hash &&
            same_game_name(holder_name(overlay, overlay_first(overlay, slot_name(value))), name)) {
            break;
        }
    }
    return slot;
}

// Keeps the slots at most half full, doubling them.
void make_room(Overlay& overlay) {
    if (overlay.names.size() < overlay.slots.size() / 2) {
        return;
    }
    std::vector<std::uint64_t> slots(overlay.slots.empty() ? 1024 : overlay.slots.size() * 2, 0);
    overlay.slots.swap(slots);
    for (std::uint64_t value : slots) {
        if (value != 0) {
            std::uint32_t slot = (value >> 32) & static_cast<std::uint32_t>(overlay.slots.size() - 1);
            while (overlay.slots[slot] != 0) {
                slot = next_slot(overlay, slot);
            }
            overlay.slots[slot] = value;
        }
    }
}

void add_entries(Overlay& overlay, const ArchiveTable& table, std::uint16_t archive) {
    const auto count = static_cast<std::uint32_t>(table.entries.size());
    if (overlay.names.capacity() < overlay.names.size() + count) {
        overlay.names.reserve(std::max(overlay.names.size() + count, overlay.names.capacity() * 2));
    }
    // The hashes of the next entries are made ahead, and their slots asked
    // for: the slots lie anywhere, and waiting for each in turn was most of
    // the time.
    constexpr std::uint32_t AHEAD = 8;
    std::uint32_t hashes[AHEAD];
    const auto hash_of = [&](std::uint32_t e) { return game_name_hash(table_name(table, e)); };
    for (std::uint32_t e = 0; e < count && e < AHEAD; ++e) {
        hashes[e] = hash_of(e);
    }
    for (std::uint32_t e = 0; e < count; ++e) {
        make_room(overlay);
        std::string_view name = table_name(table, e);
        std::uint32_t hash = hashes[e % AHEAD];
        if (e + AHEAD < count) {
            std::uint32_t later = hash_of(e + AHEAD);
            hashes[e % AHEAD] = later;
            __builtin_prefetch(&overlay.slots[later & (overlay.slots.size() - 1)]);
        }
        std::uint32_t slot = probe(overlay, name, hash);
        if (overlay.slots[slot] == 0) {
            if (overlay.names.size() >= UINT32_MAX - 1) {
                throw std::bad_alloc();
            }
            overlay.slots[slot] = slot_value(hash, static_cast<std::uint32_t>(overlay.names.size()));
            overlay.names.push_back({e, e, archive, archive});
            continue;
        }
        std::uint32_t k = slot_name(overlay.slots[slot]);
        OverlayName& held = overlay.names[k];
        // A name this archive held already: its first entry counts.
        if (held.winnerArchive != archive) {
            if (held.winnerArchive != held.firstArchive) {
                overlay.middles.push_back({k, overlay_winner(overlay, k)});
            }
            held.winnerArchive = archive;
            held.winnerEntry = e;
        }
    }
}

bool data_inside(const Overlay& overlay, Holder holder) {
    const ArchiveTable& table = *overlay.archives[holder.archive].table;
    return std::uint64_t{table_data_offset(table, holder.entry)} + table_data_size(table, holder.entry) <=
           table.header.archiveSize;
}

bool read_piece(const Overlay& overlay, Holder holder, std::uint32_t from, std::uint32_t count, std::uint8_t* into) {
    const OverlayArchive& archive = overlay.archives[holder.archive];
    std::uint32_t got = 0;
    std::uint64_t at = std::uint64_t{table_data_offset(*archive.table, holder.entry)} + from;
    return archive.source.read(archive.source.context, at, into, count, &got) && got == count;
}

// The holders of the names between their first and their winner, by name
// and, for each, in load order.
struct Middles {
    std::vector<std::pair<std::uint32_t, Holder>> byName;
    std::size_t next = 0;
};

void find_middles(const Overlay& overlay, Middles& middles) {
    middles.byName = overlay.middles;
    std::stable_sort(middles.byName.begin(), middles.byName.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
}

// Name k's holders into `holders`, in load order.
void holders_of(const Overlay& overlay, Middles& middles, std::uint32_t k, std::vector<Holder>& holders) {
    holders.clear();
    holders.push_back(overlay_first(overlay, k));
    for (; middles.next < middles.byName.size() && middles.byName[middles.next].first == k; ++middles.next) {
        holders.push_back(middles.byName[middles.next].second);
    }
    holders.push_back(overlay_winner(overlay, k));
}

// Whether every holder has the first one's bytes.
bool all_same(DataCompare& compare, const std::vector<Holder>& holders, OverlayWalk& walk) {
    const Overlay& overlay = *compare.overlay;
    std::uint32_t size = holder_size(overlay, holders[0]);
    for (const Holder& holder : holders) {
        if (holder_size(overlay, holder) != size) {
            return false;
        }
    }
    for (std::size_t h = 1; h < holders.size(); ++h) {
        if (!same_data(compare, holders[0], holders[h], &walk.fault, &walk.at)) {
            return false;
        }
    }
    return true;
}

OverlayWalk conflicts(const Overlay& overlay, const std::function<bool(const Conflict&)>& found) {
    OverlayWalk walk;
    Middles middles;
    find_middles(overlay, middles);
    DataCompare compare{&overlay, {}};
    Conflict conflict;
    for (std::uint32_t k = 0; k < overlay.names.size(); ++k) {
        const OverlayName& name = overlay.names[k];
        if (name.firstArchive == name.winnerArchive) {
            continue;
        }
        holders_of(overlay, middles, k, conflict.holders);
        if (all_same(compare, conflict.holders, walk)) {
            ++walk.sameBytes;
            continue;
        }
        if (walk.fault != OverlayFault::none) {
            return walk;
        }
        ++walk.conflicts;
        conflict.name = k;
        if (!found(conflict)) {
            break;
        }
    }
    return walk;
}

OverlayWalk differences(const Overlay& overlay, const std::function<void(Difference, Holder)>& found) {
    OverlayWalk walk;
    DataCompare compare{&overlay, {}};
    std::vector<Holder> pair(2);
    for (std::uint32_t k = 0; k < overlay.names.size(); ++k) {
        pair[0] = overlay_first(overlay, k);
        pair[1] = overlay_winner(overlay, k);
        if (pair[0].archive == pair[1].archive) {
            found(pair[0].archive == 0 ? Difference::removed : Difference::added, pair[0]);
        } else if (all_same(compare, pair, walk)) {
            ++walk.sameBytes;
        } else if (walk.fault != OverlayFault::none) {
            return walk;
        } else {
            ++walk.conflicts;
            found(Difference::changed, pair[1]);
        }
    }
    return walk;
}

}  // namespace

bool overlay_reserve(Overlay& overlay, std::uint64_t names) {
    try {
        overlay.names.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(names, UINT32_MAX - 1)));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

OverlayFault overlay_add(Overlay& overlay, const ArchiveTable& table, const ArchiveSource& source) {
    if (overlay.broken) {
        return OverlayFault::no_memory;
    }
    if (overlay.archives.size() >= OVERLAY_MOST_ARCHIVES) {
        return OverlayFault::too_many;
    }
    try {
        overlay.archives.push_back({&table, source});
        add_entries(overlay, table, static_cast<std::uint16_t>(overlay.archives.size() - 1));
    } catch (const std::bad_alloc&) {
        overlay.broken = true;
        return OverlayFault::no_memory;
    }
    return OverlayFault::none;
}

std::optional<std::uint32_t> overlay_find(const Overlay& overlay, std::string_view name) {
    if (overlay.slots.empty()) {
        return std::nullopt;
    }
    std::uint64_t held = overlay.slots[probe(overlay, name, game_name_hash(name))];
    if (held == 0) {
        return std::nullopt;
    }
    return slot_name(held);
}

bool same_data(DataCompare& compare, Holder a, Holder b, OverlayFault* fault, Holder* at) {
    const Overlay& overlay = *compare.overlay;
    std::uint32_t size = holder_size(overlay, a);
    if (holder_size(overlay, b) != size) {
        return false;
    }
    for (Holder holder : {a, b}) {
        if (!data_inside(overlay, holder)) {
            *fault = OverlayFault::unreadable;
            *at = holder;
            return false;
        }
    }
    const OverlayArchive& first = overlay.archives[a.archive];
    const OverlayArchive& second = overlay.archives[b.archive];
    // One archive's bytes at one place are the same bytes.
    if (first.table == second.table &&
        table_data_offset(*first.table, a.entry) == table_data_offset(*second.table, b.entry)) {
        return true;
    }
    if (compare.buffers.empty() && size > 0) {
        compare.buffers.resize(2 * std::size_t{COMPARE_PIECE});
    }
    for (std::uint32_t done = 0; done < size;) {
        std::uint32_t count = size - done < COMPARE_PIECE ? size - done : COMPARE_PIECE;
        std::uint8_t* ours = compare.buffers.data();
        std::uint8_t* theirs = ours + COMPARE_PIECE;
        for (auto [holder, into] : {std::pair{a, ours}, std::pair{b, theirs}}) {
            if (!read_piece(overlay, holder, done, count, into)) {
                *fault = OverlayFault::read_failed;
                *at = holder;
                return false;
            }
        }
        if (std::memcmp(ours, theirs, count) != 0) {
            return false;
        }
        done += count;
    }
    return true;
}

OverlayWalk overlay_conflicts(const Overlay& overlay, const std::function<bool(const Conflict&)>& found) {
    try {
        return conflicts(overlay, found);
    } catch (const std::bad_alloc&) {
        OverlayWalk walk;
        walk.fault = OverlayFault::no_memory;
        return walk;
    }
}

OverlayWalk overlay_differences(const Overlay& overlay, const std::function<void(Difference, Holder)>& found) {
    try {
        return differences(overlay, found);
    } catch (const std::bad_alloc&) {
        OverlayWalk walk;
        walk.fault = OverlayFault::no_memory;
        return walk;
    }
}
