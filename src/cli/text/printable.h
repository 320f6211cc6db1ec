// Names from archives and paths from the command line and the file system,
// made safe to print: a newline would forge a line of output, an escape
// sequence would drive the terminal, a bidirectional override would make a
// name read as another. Only what is printed changes, never what is stored
// or written.
#pragma once

#include "lib/text/ascii.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "lib/text/path_style.h"

// How the console reads the bytes it is given: as UTF-8 (POSIX, and Windows
// with UTF-8 as its ANSI code page), or as a code page, byte by byte, where
// `controls` marks the bytes that the code page makes control characters and
// `leadBytes` the first bytes of its two-byte characters.
struct ConsoleText {
    bool utf8 = true;
    std::array<bool, 256> controls{};
    LeadBytes leadBytes{};
};

// The rules printable() uses in this run; UTF-8 until the platform layer
// sets those of the console at the start of the run.
void set_console_text(const ConsoleText& console);

// `text` with each control character shown as '?': 0x01-0x1F and 0x7F; as
// UTF-8, also the C1 controls U+0080-U+009F, bytes 0x80-0x9F that are not
// part of valid UTF-8, and the bidirectional overrides and isolates
// U+202A-U+202E and U+2066-U+2069, one '?' per character; in a code page,
// the bytes it makes control characters. Returns `text` itself when it
// holds none, otherwise the copy made in `storage`.
std::string_view printable(std::string_view text, std::string& storage, const ConsoleText& console);

// The same, with the console's rules of this run.
std::string_view printable(std::string_view text, std::string& storage);

// The same, as a terminated string for "%s".
const char* printable(const char* text, std::string& storage);


// The length of `piece` less a character cut at its very end, so that a
// name printed in pieces is judged as it would be whole: the next piece
// starts there. As UTF-8, an incomplete sequence (a lead byte followed by
// fewer continuation bytes than it announces; bytes that cannot begin a
// sequence are not held back); in a code page, a lead byte whose second
// byte is yet to come (which only a walk from the start of `piece` can tell
// from a second byte).
std::size_t whole_characters(std::string_view piece, const ConsoleText& console);

// The same, with the console's rules of this run.
std::size_t whole_characters(std::string_view piece);

// `name` as a message quotes it: printable, and when it is longer than the
// path buffers, its first PATH_CAPACITY - 1 bytes less a character cut in
// half, followed by "...". `storage` must not hold `name`.
std::string_view quoted_name(std::string_view name, std::string& storage);
