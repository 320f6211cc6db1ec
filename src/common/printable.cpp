// See printable.h.
#include "common/printable.h"

#include <algorithm>

bool is_control_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x01 && byte <= 0x1F) || byte == 0x7F;
}

std::string_view printable(std::string_view text, std::string& storage) {
    if (std::none_of(text.begin(), text.end(), is_control_byte)) {
        return text;
    }
    storage.assign(text);
    std::replace_if(storage.begin(), storage.end(), is_control_byte, '?');
    return storage;
}

const char* printable(const char* text, std::string& storage) {
    std::string_view shown = printable(std::string_view(text), storage);
    if (shown.data() == text) {
        return text;
    }
    return storage.c_str();
}
