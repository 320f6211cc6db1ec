// Reading index entries through a window; see index_window.h.
#include "lib/format/index_window.h"

#include <cstring>
#include <new>

namespace {

// After a jump elsewhere in the index, a first read of this much usually
// holds the entry: its fixed fields and a name of path length. Reading the
// whole window for every jump would read the index many times over.
constexpr std::uint32_t JUMP_READ = 512;

// Fills the window with up to `want` index bytes from `at`. 0 when the seek
// or the read failed.
int fill(IndexWindow& window, std::uint32_t at, std::uint32_t want) {
    std::uint32_t rest = window.indexLength - at;
    std::uint32_t count = want < rest ? want : rest;
    count = count < window.size ? count : window.size;
    window.from = at;
    window.held = 0;
    std::uint32_t got = 0;
    if (!window.read(window.context, window.indexStart + at, window.bytes.get(), count, &got)) {
        return 0;
    }
    window.held = got;
    if (got < count) {
        window.indexLength = at + got;  // the file is shorter than it was
    }
    return 1;
}

bool entry_held(const IndexWindow& window, std::uint32_t at, BigEntry* entry) {
    if (at < window.from) {
        return false;
    }
    std::optional<BigEntry> found = entry_at({window.bytes.get(), window.held}, at - window.from);
    if (!found) {
        return false;
    }
    *entry = *found;
    return true;
}

bool holds_index_end(const IndexWindow& window) {
    return window.from + window.held == window.indexLength;
}

// Whether the window holds `count` bytes from index offset `at` on.
bool holds(const IndexWindow& window, std::uint32_t at, std::uint32_t count) {
    return at >= window.from && at - window.from <= window.held &&
           window.held - (at - window.from) >= count;
}

// The entry at `at` has a name longer than the window, which holds the
// window's size from `at` on. Its terminator is looked for in reads of that
// size; once it is found, the window goes back to the entry's start, and
// the entry holds as much of its name as fits.
WindowStatus long_entry(IndexWindow& window, std::uint32_t at, BigEntry* entry) {
    std::uint32_t next = window.from + window.held;
    std::uint32_t terminator = 0;
    for (;;) {
        if (next >= window.indexLength) {
            return WindowStatus::missing;
        }
        if (!fill(window, next, window.size)) {
            return WindowStatus::read_failed;
        }
        if (window.held == 0) {
            return WindowStatus::missing;
        }
        const void* zero = std::memchr(window.bytes.get(), 0, window.held);
        if (zero != nullptr) {
            terminator = next + static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(zero) -
                                                           window.bytes.get());
            break;
        }
        next += window.held;
    }
    if (!fill(window, at, window.size)) {
        return WindowStatus::read_failed;
    }
    // A file cut short meanwhile ends the index before the terminator.
    if (terminator >= window.indexLength || window.held < ENTRY_FIXED_SIZE) {
        return WindowStatus::missing;
    }
    const std::uint8_t* name = window.bytes.get() + ENTRY_NAME_AT;
    *entry = BigEntry{window.bytes.get(),
                      {reinterpret_cast<const char*>(name), window.held - ENTRY_NAME_AT},
                      terminator - at - static_cast<std::uint32_t>(ENTRY_NAME_AT)};
    return WindowStatus::found;
}

}  // namespace

int window_open_reader(IndexWindow& window, IndexRead read, void* context, std::uint32_t index_start,
                       std::uint32_t index_length, std::uint32_t capacity) {
    capacity = capacity < ENTRY_FIXED_SIZE ? static_cast<std::uint32_t>(ENTRY_FIXED_SIZE) : capacity;
    window = IndexWindow{};
    window.bytes.reset(new (std::nothrow) std::uint8_t[capacity]);
    if (!window.bytes) {
        return 0;
    }
    window.read = read;
    window.context = context;
    window.indexStart = index_start;
    std::uint32_t room = UINT32_MAX - index_start;
    window.indexLength = index_length < room ? index_length : room;
    window.size = capacity;
    return 1;
}

int window_preload(IndexWindow& window) {
    return fill(window, 0, window.size);
}

WindowStatus window_entry(IndexWindow& window, std::uint32_t at, BigEntry* entry) {
    if (at > window.indexLength || window.indexLength - at < ENTRY_FIXED_SIZE) {
        return WindowStatus::missing;
    }
    if (entry_held(window, at, entry)) {
        return WindowStatus::found;
    }
    // Walking on from the window takes a whole window; a jump, a little first.
    bool walking = at >= window.from && at <= window.from + window.held;
    std::uint32_t want = walking ? window.size : JUMP_READ;
    for (;;) {
        if (!fill(window, at, want)) {
            return WindowStatus::read_failed;
        }
        if (entry_held(window, at, entry)) {
            return WindowStatus::found;
        }
        if (holds_index_end(window)) {
            return WindowStatus::missing;  // the index ends inside this entry
        }
        if (window.held == window.size) {
            return long_entry(window, at, entry);
        }
        want = window.size;
    }
}

WindowStatus window_bytes(IndexWindow& window, std::uint32_t at, std::uint32_t count,
                          std::string_view* bytes) {
    std::uint32_t want = count < window.size ? count : window.size;
    if (!holds(window, at, want)) {
        if (at > window.indexLength) {
            return WindowStatus::missing;
        }
        // A whole window, so that what follows a name's last piece is held.
        if (!fill(window, at, window.size)) {
            return WindowStatus::read_failed;
        }
        if (window.held < want) {
            return WindowStatus::missing;
        }
    }
    *bytes = {reinterpret_cast<const char*>(window.bytes.get()) + (at - window.from), want};
    return WindowStatus::found;
}

void window_close(IndexWindow& window) {
    window = IndexWindow{};
}
