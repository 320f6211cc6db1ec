// Picking entries by name, as the commands that take patterns do: names are
// compared the way the game looks them up, whatever the system.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lib/text/path_style.h"

// Whether `pattern` holds a wildcard, '*' or '?'. One without selects only
// the names equal to it, and is looked up rather than compared.
bool has_wildcard(std::string_view pattern);

// Whether `name` matches `pattern`: '\' and '/' are one separator, the
// ASCII letters match without regard to case, '*' matches any run of
// characters (separators included), '?' any one character; nothing else is
// special. So a pattern always matches a name equal to it, whatever that
// holds. Characters are bytes, or with `lead` those of a double-byte code
// page, whose second bytes are never folded nor separators, and a
// segment between stars begins and ends at characters.
bool name_matches(std::string_view pattern, std::string_view name, const LeadBytes& lead = NO_LEAD_BYTES);

// The key under which a name and the patterns equal to it meet: the ASCII
// letters in upper case, '/' as '\'; a double-byte character of `lead`'s
// code page as it is.
void name_key(std::string_view name, std::string* key, const LeadBytes& lead = NO_LEAD_BYTES);

// name_key where every character is one byte, by a table.
void key_bytes(std::string_view name, std::string* key);

// The patterns of a list file's text, one a line: blank lines skipped, a
// carriage return ending a line dropped.
std::vector<std::string> pattern_lines(std::string_view text);
