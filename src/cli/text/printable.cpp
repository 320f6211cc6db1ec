// See printable.h.
#include "cli/text/printable.h"

#include <cstdint>

namespace {

// The console's rules for this run (see set_console_text).
ConsoleText console_text;

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

// The length of the valid UTF-8 sequence at the start of `text` and its code
// point, or 0 when the bytes there are not one.
std::size_t utf8_sequence(std::string_view text, std::uint32_t* code_point) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(0);
    std::size_t length = sequence_length(lead);
    if (length < 2 || text.size() < length) {
        return 0;
    }
    // The second byte's range is narrower where overlong forms and
    // surrogates would be.
    std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) {
        return 0;
    }
    *code_point = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (!is_continuation(byte(i))) {
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

#include "lib/text/limits.h"

std::string_view printable(std::string_view text, std::string& storage, const ConsoleText& console) {
    // Most names hold nothing to replace: they are printed as they are.
    // Printable ASCII is itself in every code page and in UTF-8.
    std::size_t at = 0;
    while (at < text.size() && static_cast<unsigned char>(text[at]) - 0x20u < 0x5Fu) {
        ++at;
    }
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


namespace {

std::size_t whole_utf8_characters(std::string_view piece) {
    // A sequence is at most 4 bytes: its lead lies at most 3 bytes back.
    for (std::size_t back = 1; back <= 3 && back <= piece.size(); ++back) {
        auto byte = static_cast<unsigned char>(piece[piece.size() - back]);
        if (!is_continuation(byte)) {
            return sequence_length(byte) > back ? piece.size() - back : piece.size();
        }
    }
    return piece.size();
}

}  // namespace

std::size_t whole_characters(std::string_view piece) {
    return whole_characters(piece, console_text);
}

std::size_t whole_characters(std::string_view piece, const ConsoleText& console) {
    if (console.utf8) {
        return whole_utf8_characters(piece);
    }
    std::size_t at = 0;
    while (at < piece.size()) {
        at += console.leadBytes[static_cast<unsigned char>(piece[at])] ? 2 : 1;
    }
    return at > piece.size() ? piece.size() - 1 : piece.size();
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
