// Local path handling; see paths.h.
#include "common/paths.h"

#include <cstring>

#include "platform/platform.h"

char path_separator(PathStyle style) {
    return style == PathStyle::windows ? '\\' : '/';
}

bool is_separator(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::windows && c == '\\');
}

bool is_absolute_path(std::string_view path, PathStyle style) {
    if (style == PathStyle::windows) {
        return path.size() >= 2 && path[1] == ':';
    }
    return !path.empty() && path[0] == '/';
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

int resolve_path_from(std::string_view cwd, std::string_view dir, PathStyle style, char* out,
                      std::size_t size) {
    if (size == 0) {
        return 0;
    }
    out[0] = '\0';
    if (is_absolute_path(dir, style)) {
        return append_text(out, size, dir);
    }
    // A current directory that is a root already ends in a separator; the
    // doubled separator that results is harmless and kept.
    char separator[2] = {path_separator(style), '\0'};
    return append_text(out, size, cwd) && append_text(out, size, separator) &&
           append_text(out, size, dir);
}

int resolve_path(const char* dir, char* out, std::size_t size) {
    // The current directory only matters to a relative path: an absolute one
    // must not fail because the current directory is too deep or was removed.
    PathStyle style = local_path_style();
    if (is_absolute_path(dir, style)) {
        return resolve_path_from("", dir, style, out, size);
    }
    char cwd[MAX_PATH];
    if (!current_directory(cwd, sizeof cwd)) {
        return 0;
    }
    return resolve_path_from(cwd, dir, style, out, size);
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

std::size_t last_separator(std::string_view path, PathStyle style) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1], style)) {
            return i - 1;
        }
    }
    return std::string_view::npos;
}
