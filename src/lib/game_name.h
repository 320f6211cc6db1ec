// Names compared as the game looks them up: '/' and '\' alike, a-z as A-Z,
// nothing else folded. One rule for every lookup, in one archive or many.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/ascii.h"

inline unsigned char game_folded(char c) {
    return static_cast<unsigned char>(c == '/' ? '\\' : ascii_upper(c));
}

inline std::uint32_t game_name_hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : name) {
        hash = (hash ^ game_folded(c)) * 16777619u;
    }
    return hash;
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
