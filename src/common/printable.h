// Names from archives and from trees nobody checked, made safe to print: a
// newline in a name would forge a line of output, an escape sequence would
// drive the terminal. Only what is printed changes, never what is stored or
// written.
#pragma once

#include <string>
#include <string_view>

// `text` with each control byte (0x01-0x1F and 0x7F) shown as '?'. Returns
// `text` itself when it holds none, otherwise the copy made in `storage`.
std::string_view printable(std::string_view text, std::string& storage);

// The same, as a terminated string for "%s".
const char* printable(const char* text, std::string& storage);

bool is_control_byte(char c);
