// Local paths: resolving them against a current directory, joining them,
// and converting between local paths and names as archives store them
// (always with backslashes). Every function that fills a buffer returns 0,
// leaving it unusable, rather than truncate.
#pragma once

#include <cstddef>
#include <string_view>

#include "lib/text/limits.h"
#include "lib/text/path_style.h"

char path_separator(PathStyle style);
bool is_separator(char c, PathStyle style);

// How a local path is anchored. POSIX paths are absolute or relative;
// Windows has more forms, each taken the way Windows takes it.
enum class PathForm {
    relative,        // "out": below the current directory
    absolute,        // "/srv/out", "C:\out", "\\server\share\out"
    rooted,          // "\out": from the root of the current directory's drive
    drive_relative,  // "C:out", "C:": below that drive's own current directory
    device,          // "\\?\...", "\\.\...", "\??\...": bypass Windows' path rules
};
PathForm path_form(std::string_view path, PathStyle style);

// Appends `text` to the terminated string in `buffer` of `size` bytes.
int append_text(char* buffer, std::size_t size, std::string_view text);

// `dir` made absolute. `base` is the current directory, or, for a
// drive-relative `dir`, that drive's current directory. An absolute `dir`
// stays as it is; a relative one follows `base` and a separator; a rooted
// one follows the drive (or the \\server\share) of `base`; a drive-relative
// one is `base`, then a separator and what follows the colon, if anything.
// A device path is refused.
int resolve_path_from(std::string_view base, std::string_view dir, PathStyle style, char* out,
                      std::size_t size);


// Appends a separator and an archive name, its backslashes turned into the
// local separator.
int append_archive_name(char* buffer, std::size_t size, std::string_view name, PathStyle style);

// A path relative to a walked directory, with its local separators turned
// into backslashes.
int archive_name_from_local(std::string_view relative, PathStyle style, char* out, std::size_t size);

// The walks below go by characters: with `lead`, the second byte of a
// two-byte character is never taken for a separator.

// Position of the last separator in `path`, or npos.
std::size_t last_separator(std::string_view path, PathStyle style, const LeadBytes& lead = NO_LEAD_BYTES);

// The length of `path` up to the end of its next component after position
// `from`, a character's start (empty components skipped); npos when none is
// left.
std::size_t next_component_end(std::string_view path, std::size_t from, PathStyle style,
                               const LeadBytes& lead = NO_LEAD_BYTES);

// The length of the leading components that `a` and `b` share (0 for none).
std::size_t shared_components(std::string_view a, std::string_view b, PathStyle style,
                              const LeadBytes& lead = NO_LEAD_BYTES);
