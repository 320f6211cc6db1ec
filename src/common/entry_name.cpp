// Entry name safety; see entry_name.h.
#include "common/entry_name.h"

#include <algorithm>
#include <array>

#include "common/ascii.h"
#include "common/printable.h"

namespace {

bool is_name_separator(char c) {
    return c == '\\' || c == '/';
}

// Windows drops trailing dots and blanks from a name: "readme." and
// "readme " would be written as "readme", and "..." or ". ." read as "..".
bool ends_in_dot_or_blank(std::string_view component) {
    return !component.empty() && (component.back() == '.' || component.back() == ' ');
}

// Characters no Windows file name holds; the name would fail half made.
bool has_windows_forbidden_character(std::string_view name) {
    return name.find_first_of(":<>\"|?*") != std::string_view::npos ||
           std::any_of(name.begin(), name.end(), is_control_byte);
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

bool is_safe_entry_name(std::string_view name, PathStyle style) {
    // A trailing separator names a folder, which extraction would make and
    // then fail to write as a file.
    if (name.empty() || is_name_separator(name.front()) || is_name_separator(name.back())) {
        return false;
    }
    if (name.size() >= 2 && is_ascii_letter(name[0]) && name[1] == ':') {
        return false;
    }
    bool windows = style == PathStyle::windows;
    if (windows && has_windows_forbidden_character(name)) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !is_name_separator(name[end])) {
            ++end;
        }
        std::string_view component = name.substr(start, end - start);
        if (component == "..") {
            return false;
        }
        if (windows && (ends_in_dot_or_blank(component) || is_windows_device(component))) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool is_safe_entry_name_start(std::string_view start, PathStyle style) {
    std::size_t cut = start.find_last_of("\\/");
    if (cut == std::string_view::npos) {
        return true;
    }
    // A doubled separator inside the name is no trailing one. Empty when the
    // name begins with a separator, which is unsafe.
    return is_safe_entry_name(without_trailing_separators(start.substr(0, cut)), style);
}

std::string_view without_trailing_separators(std::string_view name) {
    while (!name.empty() && is_name_separator(name.back())) {
        name.remove_suffix(1);
    }
    return name;
}

bool has_empty_component(std::string_view name) {
    if (name.empty() || is_name_separator(name.front()) || is_name_separator(name.back())) {
        return true;
    }
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (is_name_separator(name[i - 1]) && is_name_separator(name[i])) {
            return true;
        }
    }
    return false;
}
