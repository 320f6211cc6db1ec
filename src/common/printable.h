// Names from archives and from trees nobody checked, made safe to print: a
// newline in a name would forge a line of output, an escape sequence would
// drive the terminal. Only what is printed changes, never what is stored or
// written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `text` with each control byte (0x01-0x1F and 0x7F) shown as '?'. Returns
// `text` itself when it holds none, otherwise the copy made in `storage`.
std::string_view printable(std::string_view text, std::string& storage);

// The same, as a terminated string for "%s".
const char* printable(const char* text, std::string& storage);

bool is_control_byte(char c);

// The length of `piece` less an incomplete UTF-8 sequence at its very end
// (a lead byte followed by fewer continuation bytes than it announces), so
// that a name printed in pieces is judged as it would be whole: the next
// piece starts there. Bytes that cannot begin a sequence are not held back.
std::size_t whole_characters(std::string_view piece);

// `name` as a message quotes it: printable, and when it is longer than the
// path buffers, its first PATH_CAPACITY - 1 bytes less a character cut in
// half, followed by "...". `storage` must not hold `name`.
std::string_view quoted_name(std::string_view name, std::string& storage);
