// Local paths: resolving them against the current directory, joining them,
// and converting between local paths and names as archives store them
// (always with backslashes). Every function that fills a buffer returns 0,
// leaving it unusable, rather than truncate.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/limits.h"
#include "common/path_style.h"

char path_separator(PathStyle style);
bool is_separator(char c, PathStyle style);
bool is_absolute_path(std::string_view path, PathStyle style);

// Appends `text` to the terminated string in `buffer` of `size` bytes.
int append_text(char* buffer, std::size_t size, std::string_view text);

// `dir` unchanged when absolute, otherwise `cwd`, a separator and `dir`.
int resolve_path_from(std::string_view cwd, std::string_view dir, PathStyle style, char* out,
                      std::size_t size);

// resolve_path_from with the process's current directory and local style.
int resolve_path(const char* dir, char* out, std::size_t size);

// Appends a separator and an archive name, its backslashes turned into the
// local separator.
int append_archive_name(char* buffer, std::size_t size, std::string_view name, PathStyle style);

// A path relative to a walked directory, with its local separators turned
// into backslashes.
int archive_name_from_local(std::string_view relative, PathStyle style, char* out, std::size_t size);

// Position of the last separator in `path`, or npos.
std::size_t last_separator(std::string_view path, PathStyle style);
