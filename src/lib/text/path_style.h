// The two conventions for local paths, and how a code page splits names
// into characters. Path logic takes both as arguments so that every rule
// can be tested on any host.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class PathStyle {
    posix,    // '/' separates; a path is absolute when it begins with '/'
    windows,  // '\' separates ('/' is accepted too); absolute when it has a drive letter
};

// The lead bytes of a double-byte code page (Windows' 932, 936, 949, 950):
// a byte marked here begins a two-byte character whose second byte may be
// '\' or '|', which is then no separator and no forbidden character. None
// is marked for POSIX, whose UTF-8 keeps ASCII bytes out of its longer
// characters, or for single-byte code pages and UTF-8 on Windows.
using LeadBytes = std::array<bool, 256>;
inline constexpr LeadBytes NO_LEAD_BYTES{};

// Every trail byte of those code pages is 0x40 or above: a lead byte before
// anything lower ('/', '.', a control byte) or at the end begins no
// character, and Windows would read the name otherwise.
inline bool is_broken_lead(std::string_view text, std::size_t i, const LeadBytes& lead) {
    return lead[static_cast<unsigned char>(text[i])] &&
           (i + 1 >= text.size() || static_cast<unsigned char>(text[i + 1]) < 0x40);
}

// The length in bytes of the character that begins at `i`.
inline std::size_t character_length(std::string_view text, std::size_t i, const LeadBytes& lead) {
    return lead[static_cast<unsigned char>(text[i])] && !is_broken_lead(text, i, lead) ? 2 : 1;
}
