// See printable.h.
#include "common/printable.h"

#include <algorithm>

#include "common/limits.h"

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

namespace {

// How many bytes the UTF-8 sequence that `lead` begins takes; 0 for a byte
// that begins none (a continuation byte, C0, C1, F5 to FF).
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

std::size_t whole_characters(std::string_view piece) {
    // A sequence is at most 4 bytes: its lead lies at most 3 bytes back.
    for (std::size_t back = 1; back <= 3 && back <= piece.size(); ++back) {
        auto byte = static_cast<unsigned char>(piece[piece.size() - back]);
        if (!is_continuation(byte)) {
            return sequence_length(byte) > back ? piece.size() - back : piece.size();
        }
    }
    return piece.size();
}

std::string_view quoted_name(std::string_view name, std::string& storage) {
    constexpr std::size_t shown = PATH_CAPACITY - 1;
    if (name.size() <= shown) {
        return printable(name, storage);
    }
    std::string_view head = name.substr(0, shown);
    head = head.substr(0, whole_characters(head));
    std::string_view printed = printable(head, storage);
    if (printed.data() != storage.data()) {
        storage.assign(printed);
    }
    storage += "...";
    return storage;
}
