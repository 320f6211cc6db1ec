// Archives read together in a load order, lowest precedence first: an
// entry in a later archive hides one of the same name (by the game's rule)
// in an earlier one, and within one archive the first entry of a name in
// index order counts, the others are never seen. The overlay answers which
// entry wins for a name, lists the winners in the order their names first
// appear in the load order (the order a merged archive holds them), and
// finds the names several archives hold with different data.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "lib/reader/archive_table.h"

struct Holder {
    std::uint32_t archive;  // position in the load order
    std::uint32_t entry;    // index in that archive
};

// One distinct name: the first archive that holds it and the one that wins.
// 12 bytes a name; the archive positions are why an overlay holds at most
// OVERLAY_MOST_ARCHIVES.
struct OverlayName {
    std::uint32_t firstEntry;
    std::uint32_t winnerEntry;
    std::uint16_t firstArchive;
    std::uint16_t winnerArchive;
};

inline constexpr std::uint32_t OVERLAY_MOST_ARCHIVES = 65535;

struct OverlayArchive {
    const ArchiveTable* table;  // not owned; outlives the overlay
    ArchiveSource source;       // its data, read at positions
};

struct Overlay {
    std::vector<OverlayArchive> archives;
    std::vector<OverlayName> names;    // in the order they first appear: a merge's
    // Open addressing: a name's hash, then its number + 1; 0 empty.
    std::vector<std::uint64_t> slots;
    // The holders that a later archive took a name from, but for its
    // first: the names' holders between their first and their winner.
    std::vector<std::pair<std::uint32_t, Holder>> middles;
    bool broken = false;               // an add ran out of memory part way
};

enum class OverlayFault {
    none,
    no_memory,    // the overlay is broken: it can only be released
    too_many,     // OVERLAY_MOST_ARCHIVES archives already
    unreadable,   // an entry's data lies outside its archive
    read_failed,  // the archive could not be read
};

// Room for `names` distinct names, taken once: a caller that knows how
// many entries it will add spares the copies of growing. Pages never
// written cost nothing. false when there is no memory.
bool overlay_reserve(Overlay& overlay, std::uint64_t names);

// Adds `table` last in the load order: one pass over its entries.
OverlayFault overlay_add(Overlay& overlay, const ArchiveTable& table, const ArchiveSource& source);

// The number of the distinct name `name`, in merge order; none when no
// archive holds it. Constant time on average.
std::optional<std::uint32_t> overlay_find(const Overlay& overlay, std::string_view name);

inline Holder overlay_first(const Overlay& overlay, std::uint32_t k) {
    return {overlay.names[k].firstArchive, overlay.names[k].firstEntry};
}

inline Holder overlay_winner(const Overlay& overlay, std::uint32_t k) {
    return {overlay.names[k].winnerArchive, overlay.names[k].winnerEntry};
}

inline std::string_view holder_name(const Overlay& overlay, Holder holder) {
    return table_name(*overlay.archives[holder.archive].table, holder.entry);
}

inline std::uint32_t holder_size(const Overlay& overlay, Holder holder) {
    return table_data_size(*overlay.archives[holder.archive].table, holder.entry);
}

// Entries' data compared through two bounded buffers, sizes first.
struct DataCompare {
    const Overlay* overlay;
    std::vector<std::uint8_t> buffers;  // made at the first compare of bytes
};

// Whether `a` and `b` hold the same bytes; on a fault, false with *fault
// saying which and *at at which entry. May throw std::bad_alloc.
bool same_data(DataCompare& compare, Holder a, Holder b, OverlayFault* fault, Holder* at);

struct Conflict {
    std::uint32_t name;            // its number, in merge order
    std::vector<Holder> holders;   // in load order; the winner last
};

struct OverlayWalk {
    std::uint64_t conflicts = 0;
    std::uint64_t sameBytes = 0;  // names held more than once, with the same bytes each time
    OverlayFault fault = OverlayFault::none;
    Holder at{};                  // the entry of the fault
};

// Calls `found` for each name that several archives hold with different
// data, in merge order, until it returns false. Data is read only where the
// names and the sizes are the same. Throws nothing.
OverlayWalk overlay_conflicts(const Overlay& overlay, const std::function<bool(const Conflict&)>& found);

enum class Difference { added, removed, changed };

// Of an overlay of two archives, old then new: calls `found` for each name
// only the new one holds (added, its entry), only the old one holds
// (removed, its entry), or both hold with other bytes (changed, the new
// one's entry), in merge order: the old archive's order, then the new
// one's. The new archive's entries reported added or changed are what a
// patch over the old one holds. Counts the changed ones as conflicts and
// the names held alike as sameBytes. Throws nothing.
OverlayWalk overlay_differences(const Overlay& overlay, const std::function<void(Difference, Holder)>& found);
