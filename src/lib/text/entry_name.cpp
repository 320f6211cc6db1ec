// Entry name safety; see entry_name.h.
#include "lib/text/entry_name.h"

#include <algorithm>
#include <array>

#include "lib/text/ascii.h"
#include "lib/text/paths.h"

namespace {

bool is_name_separator(char c) {
    return c == '\\' || c == '/';
}

// Characters no Windows file name holds; the name would fail half made.
// All but '|' lie below the trail bytes of double-byte code pages, and so
// do the control bytes but 0x7F, which no such code page takes as one.
bool has_windows_forbidden_character(std::string_view name, const LeadBytes& lead) {
    if (name.find_first_of(":<>\"?*") != std::string_view::npos ||
        std::any_of(name.begin(), name.end(), is_control_byte)) {
        return true;
    }
    for (std::size_t i = 0; i < name.size(); i += character_length(name, i, lead)) {
        if (name[i] == '|' || is_broken_lead(name, i, lead)) {
            return true;
        }
    }
    return false;
}

// Where the separators `name` ends in begin; name.size() when it ends in
// none. A separator is a character of its own, never a trail byte.
std::size_t trailing_separators_at(std::string_view name, const LeadBytes& lead) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t length = character_length(name, i, lead);
        i += length;
        if (length > 1 || !is_name_separator(name[i - 1])) {
            end = i;
        }
    }
    return end;
}

// CON, CON.txt and "con .log" all open the console device on Windows.
// COM and LPT are reserved with 0 to 9 and with the superscript digits of
// the Latin-1 code page (B9, B2, B3 hex) as well.
bool is_windows_device(std::string_view component) {
    static constexpr std::array<std::string_view, 33> devices = {
        "CON",    "PRN",     "AUX",     "NUL",     "CONIN$", "CONOUT$", "CLOCK$",
        "COM0",   "COM1",    "COM2",    "COM3",    "COM4",   "COM5",    "COM6",
        "COM7",   "COM8",    "COM9",    "COM\xB9", "COM\xB2", "COM\xB3", "LPT0",
        "LPT1",   "LPT2",    "LPT3",    "LPT4",    "LPT5",   "LPT6",    "LPT7",
        "LPT8",   "LPT9",    "LPT\xB9", "LPT\xB2", "LPT\xB3"};
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    for (std::string_view device : devices) {
        if (equals_ignoring_case(base, device)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool ends_in_dot_or_blank(std::string_view component) {
    return !component.empty() && (component.back() == '.' || component.back() == ' ');
}

bool is_safe_entry_name(std::string_view name, PathStyle style, const LeadBytes& lead, bool in_code_page) {
    // A trailing separator names a folder, which extraction would make and
    // then fail to write as a file.
    if (!in_code_page || name.empty() || is_name_separator(name.front()) || trailing_separators_at(name, lead) != name.size()) {
        return false;
    }
    if (name.size() >= 2 && is_ascii_letter(name[0]) && name[1] == ':') {
        return false;
    }
    bool windows = style == PathStyle::windows;
    if (windows && has_windows_forbidden_character(name, lead)) {
        return false;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size();) {
        if (i < name.size() && !is_name_separator(name[i])) {
            i += character_length(name, i, lead);
            continue;
        }
        std::string_view component = name.substr(start, i - start);
        // A last part "." names the folder it is in, as a trailing separator does.
        if (component == ".." || (component == "." && i == name.size())) {
            return false;
        }
        if (windows && (ends_in_dot_or_blank(component) || is_windows_device(component))) {
            return false;
        }
        start = ++i;
    }
    return true;
}

bool is_safe_entry_name_start(std::string_view start, PathStyle style, const LeadBytes& lead) {
    // Windows' style takes both separators, as names in archives do.
    std::size_t cut = last_separator(start, PathStyle::windows, lead);
    if (cut == std::string_view::npos) {
        return true;
    }
    // A doubled separator inside the name is no trailing one. Empty when the
    // name begins with a separator, which is unsafe.
    return is_safe_entry_name(without_trailing_separators(start.substr(0, cut), lead), style, lead);
}

std::string_view without_trailing_separators(std::string_view name, const LeadBytes& lead) {
    return name.substr(0, trailing_separators_at(name, lead));
}

bool has_empty_component(std::string_view name, const LeadBytes& lead) {
    if (name.empty() || is_name_separator(name.front())) {
        return true;
    }
    bool after_separator = false;
    for (std::size_t i = 0; i < name.size(); i += character_length(name, i, lead)) {
        if (after_separator && is_name_separator(name[i])) {
            return true;
        }
        after_separator = is_name_separator(name[i]);
    }
    return after_separator;  // the last character: a trailing separator
}
