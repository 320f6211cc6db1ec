// See written_files.h.
#include "lib/extract/written_files.h"

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t FIRST_CAPACITY = 1024;
constexpr std::size_t LAST_CAPACITY = std::size_t{1} << 18;
constexpr unsigned BLOCK_BITS = 16;
constexpr std::size_t BLOCK_SLOTS = std::size_t{1} << BLOCK_BITS;

// Inode numbers and file indexes come in runs; this spreads them over the
// table (the finaliser of SplitMix64).
std::size_t slot_of(std::uint64_t file, std::uint32_t volume, std::size_t capacity) {
    std::uint64_t x = file + 0x9E3779B97F4A7C15ull * (volume + 1);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<std::size_t>(x) & (capacity - 1);
}

// The slot holding the file, or the free one where it would go.
WrittenSlot* find_slot(WrittenSlot* slots, std::size_t capacity, std::uint64_t file,
                       std::uint32_t volume) {
    std::size_t at = slot_of(file, volume, capacity);
    while (slots[at].entry != 0 && (slots[at].file != file || slots[at].volume != volume)) {
        at = (at + 1) & (capacity - 1);
    }
    return &slots[at];
}

bool before(const WrittenSlot& a, const WrittenSlot& b) {
    return a.volume != b.volume ? a.volume < b.volume : a.file < b.file;
}

WrittenSlot& sorted_at(const WrittenFiles& files, std::size_t i) {
    return files.blocks[i >> BLOCK_BITS][i & (BLOCK_SLOTS - 1)];
}

// The file's place among the sorted ones, or none.
WrittenSlot* find_sorted(const WrittenFiles& files, std::uint64_t file, std::uint32_t volume) {
    const WrittenSlot key{file, volume, 0};
    std::size_t low = 0;
    std::size_t high = files.sorted;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (before(sorted_at(files, middle), key)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == files.sorted) {
        return nullptr;
    }
    WrittenSlot& slot = sorted_at(files, low);
    return slot.file == file && slot.volume == volume ? &slot : nullptr;
}

std::optional<std::uint32_t> volume_number(const WrittenFiles& files, std::uint64_t volume) {
    auto found = std::find(files.volumes.begin(), files.volumes.end(), volume);
    if (found == files.volumes.end()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(found - files.volumes.begin());
}

int grow(WrittenFiles* files) {
    std::size_t capacity = files->capacity == 0 ? FIRST_CAPACITY : files->capacity * 2;
    std::unique_ptr<WrittenSlot[]> slots(new (std::nothrow) WrittenSlot[capacity]());
    if (!slots) {
        return 0;
    }
    for (std::size_t i = 0; i < files->capacity; ++i) {
        const WrittenSlot& slot = files->slots[i];
        if (slot.entry != 0) {
            *find_slot(slots.get(), capacity, slot.file, slot.volume) = slot;
        }
    }
    files->slots = std::move(slots);
    files->capacity = capacity;
    return 1;
}

// Moves the table's files into the sorted blocks, from the back, and
// empties the table. The blocks are made first, so that a failure changes
// nothing.
int merge(WrittenFiles* files) {
    const std::size_t recent = files->count - files->sorted;
    const std::size_t total = files->sorted + recent;
    while (files->blocks.size() * BLOCK_SLOTS < total) {
        std::unique_ptr<WrittenSlot[]> block(new (std::nothrow) WrittenSlot[BLOCK_SLOTS]);
        if (!block) {
            return 0;
        }
        try {
            files->blocks.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    WrittenSlot* table = files->slots.get();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < files->capacity; ++i) {
        if (table[i].entry != 0) {
            table[kept++] = table[i];
        }
    }
    std::sort(table, table + kept, before);
    std::size_t old = files->sorted;
    std::size_t to = total;
    for (std::size_t j = kept; j > 0;) {
        if (old > 0 && before(table[j - 1], sorted_at(*files, old - 1))) {
            sorted_at(*files, --to) = sorted_at(*files, --old);
        } else {
            sorted_at(*files, --to) = table[--j];
        }
    }
    std::fill(table, table + files->capacity, WrittenSlot{});
    files->sorted = total;
    return 1;
}

}  // namespace

std::optional<std::uint32_t> written_by(const WrittenFiles& files, FileIdentity identity) {
    std::optional<std::uint32_t> volume = volume_number(files, identity.volume);
    if (!volume || files.capacity == 0) {
        return std::nullopt;
    }
    const WrittenSlot* slot = find_slot(files.slots.get(), files.capacity, identity.file, *volume);
    if (slot->entry == 0) {
        slot = find_sorted(files, identity.file, *volume);
        if (slot == nullptr) {
            return std::nullopt;
        }
    }
    return slot->entry - 1;
}

int remember_written(WrittenFiles* files, FileIdentity identity, std::uint32_t entry) {
    std::optional<std::uint32_t> volume = volume_number(*files, identity.volume);
    if (volume) {
        if (WrittenSlot* slot = find_sorted(*files, identity.file, *volume)) {
            slot->entry = entry + 1;
            return 1;
        }
    }
    if ((files->count - files->sorted + 1) * 4 > files->capacity * 3 &&
        !(files->capacity < LAST_CAPACITY ? grow(files) : merge(files))) {
        return 0;
    }
    if (!volume) {
        volume = static_cast<std::uint32_t>(files->volumes.size());
        // No exception from here: the caller holds the file open, to close
        // whatever this says.
        try {
            files->volumes.push_back(identity.volume);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    WrittenSlot* slot = find_slot(files->slots.get(), files->capacity, identity.file, *volume);
    files->count += slot->entry == 0 ? 1 : 0;
    *slot = {identity.file, *volume, entry + 1};
    return 1;
}
