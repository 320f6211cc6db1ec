// Whether a name read from an archive may be written below an output
// directory. Hostile archives carry names that climb out of it.
#pragma once

#include <string_view>

#include "lib/text/path_style.h"

// False for an empty name, an absolute one (leading '\' or '/'), one that
// ends in a separator ("trail\") or in a "." part ("x\.", "."), which name
// a folder, one with a drive letter (C:), and one with a ".." component,
// whichever separator it uses. In Windows style also
// for what Windows would refuse half way, rewrite or open as a device: ':',
// '<', '>', '"', '|', '?', '*' and control bytes anywhere, a component that
// ends in a dot or a blank ("readme.", "...", "sub "), and reserved device
// names (CON, NUL, COM1, CONIN$ ...) with or without an extension.
// With `lead`, names are read by characters as Windows reads them in that
// code page, and a lead byte that begins no character is unsafe. A name
// that the local code page cannot hold exactly (`in_code_page` false, as
// name_in_code_page tells) is unsafe: it would be written as a look-alike.
bool is_safe_entry_name(std::string_view name, PathStyle style, const LeadBytes& lead = NO_LEAD_BYTES,
                        bool in_code_page = true);

// The same for a name known only by its start, `start`: judged on the
// components it holds whole, those before its last separator, so that a
// component cut short is never taken for another ("..x" for ".."). Without
// a separator nothing is held whole, and nothing is found unsafe.
bool is_safe_entry_name_start(std::string_view start, PathStyle style,
                              const LeadBytes& lead = NO_LEAD_BYTES);

// Windows drops trailing dots and blanks from a name: "readme." and
// "readme " would be written as "readme", and "..." or ". ." read as "..".
bool ends_in_dot_or_blank(std::string_view component);

// `name` without the separators it ends in.
std::string_view without_trailing_separators(std::string_view name, const LeadBytes& lead = NO_LEAD_BYTES);

// True when a separator leads, ends or doubles in `name`. Such a name comes
// back from extraction as another name, or as none ("trail\").
bool has_empty_component(std::string_view name, const LeadBytes& lead = NO_LEAD_BYTES);
