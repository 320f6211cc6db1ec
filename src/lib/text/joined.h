// Text made of pieces in one allocation. GCC 12 at -O3 takes
// `"literal" + std::string&&` for an overlapping copy (a false -Wrestrict),
// which breaks builds with warnings as errors.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

inline std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    std::size_t size = 0;
    for (std::string_view piece : pieces) {
        size += piece.size();
    }
    text.reserve(size);
    for (std::string_view piece : pieces) {
        text.append(piece);
    }
    return text;
}
