// Local path handling; see paths.h.
#include "lib/text/paths.h"

#include <cstring>

#include "lib/text/ascii.h"
#include "lib/text/entry_name.h"

char path_separator(PathStyle style) {
    return style == PathStyle::windows ? '\\' : '/';
}

bool is_separator(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::windows && c == '\\');
}

namespace {

PathForm windows_path_form(std::string_view path) {
    auto separator_at = [&](std::size_t i) {
        return i < path.size() && is_separator(path[i], PathStyle::windows);
    };
    if (separator_at(0) && separator_at(1)) {
        bool device = path.size() >= 3 && (path[2] == '?' || path[2] == '.') &&
                      (path.size() == 3 || separator_at(3));
        return device ? PathForm::device : PathForm::absolute;
    }
    if (separator_at(0)) {
        // "\??\" reaches the system's own names directly.
        bool device = path.size() >= 4 && path[1] == '?' && path[2] == '?' && separator_at(3);
        return device ? PathForm::device : PathForm::rooted;
    }
    if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':') {
        return separator_at(2) ? PathForm::absolute : PathForm::drive_relative;
    }
    return PathForm::relative;
}

// How much of an absolute `base` names its drive or share: "C:" of
// "C:\work", "\\server\share" of "\\server\share\dir".
std::size_t root_length(std::string_view base) {
    if (base.size() >= 2 && base[1] == ':') {
        return 2;
    }
    std::size_t separators = 0;
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (is_separator(base[i], PathStyle::windows) && i >= 2 && ++separators == 2) {
            return i;
        }
    }
    return base.size();
}

}  // namespace

PathForm path_form(std::string_view path, PathStyle style) {
    if (style == PathStyle::windows) {
        return windows_path_form(path);
    }
    return !path.empty() && path[0] == '/' ? PathForm::absolute : PathForm::relative;
}

int append_text(char* buffer, std::size_t size, std::string_view text) {
    std::size_t used = std::strlen(buffer);
    if (used + text.size() >= size) {
        return 0;
    }
    std::memcpy(buffer + used, text.data(), text.size());
    buffer[used + text.size()] = '\0';
    return 1;
}

int resolve_path_from(std::string_view base, std::string_view dir, PathStyle style, char* out,
                      std::size_t size) {
    if (size == 0) {
        return 0;
    }
    out[0] = '\0';
    // A base that is a root already ends in a separator; the doubled
    // separator that joining gives is harmless and kept.
    char separator[2] = {path_separator(style), '\0'};
    switch (path_form(dir, style)) {
    case PathForm::absolute: return append_text(out, size, dir);
    case PathForm::relative:
        return append_text(out, size, base) && append_text(out, size, separator) &&
               append_text(out, size, dir);
    case PathForm::rooted:
        return append_text(out, size, base.substr(0, root_length(base))) && append_text(out, size, dir);
    case PathForm::drive_relative:
        if (dir.size() == 2) {
            return append_text(out, size, base);
        }
        return append_text(out, size, base) && append_text(out, size, separator) &&
               append_text(out, size, dir.substr(2));
    case PathForm::device: return 0;
    }
    return 0;
}

int append_archive_name(char* buffer, std::size_t size, std::string_view name, PathStyle style) {
    std::size_t used = std::strlen(buffer);
    if (used + 1 + name.size() >= size) {
        return 0;
    }
    char separator = path_separator(style);
    buffer[used] = separator;
    for (std::size_t i = 0; i < name.size(); ++i) {
        buffer[used + 1 + i] = name[i] == '\\' ? separator : name[i];
    }
    buffer[used + 1 + name.size()] = '\0';
    return 1;
}

int archive_name_from_local(std::string_view relative, PathStyle style, char* out, std::size_t size) {
    if (relative.size() >= size) {
        return 0;
    }
    for (std::size_t i = 0; i < relative.size(); ++i) {
        out[i] = is_separator(relative[i], style) ? '\\' : relative[i];
    }
    out[relative.size()] = '\0';
    return 1;
}

std::size_t last_separator(std::string_view path, PathStyle style, const LeadBytes& lead) {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); i += character_length(path, i, lead)) {
        if (is_separator(path[i], style)) {
            last = i;
        }
    }
    return last;
}

std::size_t next_component_end(std::string_view path, std::size_t from, PathStyle style,
                               const LeadBytes& lead) {
    std::size_t i = from;
    while (i < path.size() && is_separator(path[i], style)) {
        ++i;
    }
    if (i >= path.size()) {
        return std::string_view::npos;
    }
    while (i < path.size() && !is_separator(path[i], style)) {
        i += character_length(path, i, lead);
    }
    return i;
}

std::size_t shared_components(std::string_view a, std::string_view b, PathStyle style,
                              const LeadBytes& lead) {
    // Whole characters only, so that `i` always stands at a character's start.
    std::size_t i = 0;
    std::size_t cut = 0;
    while (i < a.size()) {
        std::size_t length = character_length(a, i, lead);
        if (a.substr(i, length) != b.substr(i, length)) {
            break;
        }
        if (is_separator(a[i], style)) {
            cut = i;
        }
        i += length;
    }
    auto ends_there = [&](std::string_view path) {
        return i == path.size() || is_separator(path[i], style);
    };
    return ends_there(a) && ends_there(b) ? i : cut;
}
