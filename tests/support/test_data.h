// Data for tests that copy many bytes.
#pragma once

#include <cstdint>
#include <string>

// Bytes that differ from one position to the next, so that a chunk copied
// to the wrong place or twice shows. The same seed gives the same bytes.
inline std::string patterned_bytes(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}
