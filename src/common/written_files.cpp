// See written_files.h.
#include "common/written_files.h"

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t FIRST_CAPACITY = 1024;

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

}  // namespace

std::optional<std::uint32_t> written_by(const WrittenFiles& files, FileIdentity identity) {
    std::optional<std::uint32_t> volume = volume_number(files, identity.volume);
    if (!volume || files.capacity == 0) {
        return std::nullopt;
    }
    const WrittenSlot* slot = find_slot(files.slots.get(), files.capacity, identity.file, *volume);
    if (slot->entry == 0) {
        return std::nullopt;
    }
    return slot->entry - 1;
}

int remember_written(WrittenFiles* files, FileIdentity identity, std::uint32_t entry) {
    if ((files->count + 1) * 4 > files->capacity * 3 && !grow(files)) {
        return 0;
    }
    std::optional<std::uint32_t> volume = volume_number(*files, identity.volume);
    if (!volume) {
        volume = static_cast<std::uint32_t>(files->volumes.size());
        files->volumes.push_back(identity.volume);
    }
    WrittenSlot* slot = find_slot(files->slots.get(), files->capacity, identity.file, *volume);
    files->count += slot->entry == 0 ? 1 : 0;
    *slot = {identity.file, *volume, entry + 1};
    return 1;
}
