// Letter case the way the tool compares it everywhere: only the ASCII
// letters a-z fold, whatever the code page, so that no comparison depends on
// the locale.
#pragma once

#include <string_view>

inline bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_upper(a[i]) != ascii_upper(b[i])) {
            return false;
        }
    }
    return true;
}

// 0x01-0x1F and 0x7F, the control bytes of every code page.
inline bool is_control_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x01 && byte <= 0x1F) || byte == 0x7F;
}
