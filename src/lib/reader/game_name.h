// Names compared as the game looks them up: '/' and '\' alike, a-z as A-Z,
// nothing else folded. One rule for every lookup, in one archive or many.
#pragma once

#include <cstdint>
#include <string_view>

#include "lib/text/ascii.h"

inline unsigned char game_folded(char c) {
    return static_cast<unsigned char>(c == '/' ? '\\' : ascii_upper(c));
}

// FNV-1a, then mixed: its low bits hang on the low bits of each byte
// alone, and names that differ in a digit would crowd a few buckets of a
// table masked to a power of two.
inline std::uint32_t game_name_hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char c : name) {
        hash = (hash ^ game_folded(c)) * 16777619u;
    }
    hash ^= hash >> 16;
    hash *= 0x85ebca6bu;
    hash ^= hash >> 13;
    hash *= 0xc2b2ae35u;
    return hash ^ (hash >> 16);
}

inline bool same_game_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (game_folded(a[i]) != game_folded(b[i])) {
            return false;
        }
    }
    return true;
}
