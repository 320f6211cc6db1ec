// See printable.h.
#include "common/printable.h"

#include <cstdint>

namespace {

// The console's rules for this run (see set_console_text).
ConsoleText console_text;

// The length of the valid UTF-8 sequence at the start of `text` and its code
// point, or 0 when the bytes there are not one.
std::size_t utf8_sequence(std::string_view text, std::uint32_t* code_point) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80;   // the second byte's range, narrowed where
    std::uint8_t high = 0xBF;  // overlong forms and surrogates would be
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        *code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        *code_point = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        *code_point = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
        *code_point = (*code_point << 6) | (byte(i) & 0x3Fu);
    }
    return length;
}

bool is_shown_as_control(std::uint32_t code_point) {
    return (code_point >= 0x80 && code_point <= 0x9F) ||
           (code_point >= 0x202A && code_point <= 0x202E) ||
           (code_point >= 0x2066 && code_point <= 0x2069);
}

// The length of the character at the start of `text` and whether it is to
// be shown as '?'.
std::size_t next_character(std::string_view text, const ConsoleText& console, bool* control) {
    auto lead = static_cast<std::uint8_t>(text[0]);
    if (!console.utf8) {
        if (console.leadBytes[lead] && text.size() > 1) {
            *control = false;
            return 2;
        }
        *control = console.controls[lead];
        return 1;
    }
    if (lead < 0x80) {
        *control = is_control_byte(text[0]);
        return 1;
    }
    std::uint32_t code_point = 0;
    std::size_t length = utf8_sequence(text, &code_point);
    if (length == 0) {
        *control = lead <= 0x9F;  // a stray byte that some terminals take for C1
        return 1;
    }
    *control = is_shown_as_control(code_point);
    return length;
}

}  // namespace

void set_console_text(const ConsoleText& console) {
    console_text = console;
}

bool is_control_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x01 && byte <= 0x1F) || byte == 0x7F;
}

std::string_view printable(std::string_view text, std::string& storage, const ConsoleText& console) {
    // Most names hold nothing to replace: they are printed as they are.
    std::size_t at = 0;
    bool control = false;
    std::size_t length = 0;
    for (; at < text.size(); at += length) {
        length = next_character(text.substr(at), console, &control);
        if (control) {
            break;
        }
    }
    if (at == text.size()) {
        return text;
    }
    storage.assign(text.substr(0, at));
    for (; at < text.size(); at += length) {
        length = next_character(text.substr(at), console, &control);
        if (control) {
            storage += '?';
        } else {
            storage.append(text.substr(at, length));
        }
    }
    return storage;
}

std::string_view printable(std::string_view text, std::string& storage) {
    return printable(text, storage, console_text);
}

const char* printable(const char* text, std::string& storage) {
    std::string_view shown = printable(std::string_view(text), storage);
    if (shown.data() == text) {
        return text;
    }
    return storage.c_str();
}
