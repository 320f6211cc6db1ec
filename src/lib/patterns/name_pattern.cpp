// See name_pattern.h.
#include "lib/patterns/name_pattern.h"

#include <array>
#include <vector>

#include "lib/text/ascii.h"

namespace {

char folded(char c) {
    return c == '/' ? '\\' : ascii_upper(c);
}

}  // namespace

bool has_wildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

namespace {

// The byte of a character's key at `i` of `text`: a one-byte character
// folded, a double-byte one (`length` 2) as it is.
char key_byte(std::string_view text, std::size_t i, std::size_t length) {
    return length == 1 ? folded(text[i]) : text[i];
}

// Where the characters of `segment` ('?' any one character) end when they
// begin at `at` of `name`, or npos where they do not match there.
std::size_t same_at(std::string_view segment, std::string_view name, std::size_t at, const LeadBytes& lead) {
    for (std::size_t i = 0; i < segment.size();) {
        if (at >= name.size()) {
            return std::string_view::npos;
        }
        const std::size_t theirs = character_length(name, at, lead);
        if (segment[i] == '?') {  // never a trail byte: those begin at 40 hex
            ++i;
            at += theirs;
            continue;
        }
        const std::size_t ours = character_length(segment, i, lead);
        if (ours != theirs || at + theirs > name.size()) {
            return std::string_view::npos;
        }
        for (std::size_t k = 0; k < ours; ++k) {
            if (key_byte(segment, i + k, ours) != key_byte(name, at + k, theirs)) {
                return std::string_view::npos;
            }
        }
        i += ours;
        at += theirs;
    }
    return at;
}

// Segments shorter than this are tried at each character of the name,
// which costs at most this many comparisons a place; longer ones without
// '?' are searched for in linear time, with a table that costs more to make
// than a short search.
constexpr std::size_t LONG_SEGMENT = 32;

// Where `literal` first occurs in `name` from `from` on, beginning and
// ending at characters, or npos, by Knuth, Morris and Pratt over the keys:
// each byte of the name is compared at most twice.
std::size_t find_literal(std::string_view literal, std::string_view name, std::size_t from, const LeadBytes& lead) {
    std::string pattern;
    std::string keys;
    name_key(literal, &pattern, lead);
    name_key(name, &keys, lead);
    // border[i]: the length of the longest proper prefix of pattern[0..i]
    // that is also its suffix.
    std::vector<std::size_t> border(pattern.size(), 0);
    for (std::size_t i = 1, k = 0; i < pattern.size(); ++i) {
        while (k > 0 && pattern[i] != pattern[k]) {
            k = border[k - 1];
        }
        if (pattern[i] == pattern[k]) {
            ++k;
        }
        border[i] = k;
    }
    // starts[n]: whether a character of the name begins at n.
    std::vector<bool> starts(name.size() + 1, false);
    for (std::size_t n = from; n <= name.size(); n += n < name.size() ? character_length(name, n, lead) : 1) {
        starts[n] = true;
    }
    for (std::size_t n = from, k = 0; n < name.size(); ++n) {
        while (k > 0 && keys[n] != pattern[k]) {
            k = border[k - 1];
        }
        if (keys[n] == pattern[k] && ++k == pattern.size()) {
            const std::size_t at = n + 1 - pattern.size();
            if (starts[at] && starts[n + 1]) {
                return at;
            }
            k = border[k - 1];
        }
    }
    return std::string_view::npos;
}

// Where `segment` (no '*'; '?' any character) first occurs in `name` from
// `from` (a character's start) on, or npos, and where it ends there: in
// time linear in the name's length, but for a long segment holding '?',
// which costs its length at each place.
std::size_t find_segment(std::string_view segment, std::string_view name, std::size_t from,
                         const LeadBytes& lead, std::size_t* end) {
    if (segment.size() > name.size() - from) {  // '?' may take two bytes, never less than one
        return std::string_view::npos;
    }
    if (segment.size() >= LONG_SEGMENT && segment.find('?') == std::string_view::npos) {
        std::size_t found = find_literal(segment, name, from, lead);
        *end = found + segment.size();
        return found;
    }
    for (std::size_t at = from; at < name.size(); at += character_length(name, at, lead)) {
        std::size_t after = same_at(segment, name, at, lead);
        if (after != std::string_view::npos) {
            *end = after;
            return at;
        }
    }
    return std::string_view::npos;
}

// Where the last `count` characters of `name` begin, or npos when it has
// fewer: two walks forward, as double-byte text cannot be read backward.
std::size_t last_characters(std::string_view name, std::size_t count, const LeadBytes& lead) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < name.size(); i += character_length(name, i, lead)) {
        ++total;
    }
    if (count > total) {
        return std::string_view::npos;
    }
    std::size_t at = 0;
    for (std::size_t skip = total - count; skip > 0; --skip) {
        at += character_length(name, at, lead);
    }
    return at;
}

// How many characters of the name `segment` matches: '?' is one.
std::size_t characters_in(std::string_view segment, const LeadBytes& lead) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < segment.size(); i += segment[i] == '?' ? 1 : character_length(segment, i, lead)) {
        ++count;
    }
    return count;
}

}  // namespace

bool name_matches(std::string_view pattern, std::string_view name, const LeadBytes& lead) {
    // The pattern is its segments between stars: the first must begin the
    // name, the last end it, and each one between is best taken where it
    // first occurs after the one before, which leaves the most name to the
    // rest. No place of the name is looked at twice for one segment.
    std::size_t star = pattern.find('*');
    if (star == std::string_view::npos) {
        return same_at(pattern, name, 0, lead) == name.size();
    }
    std::string_view head = pattern.substr(0, star);
    std::string_view tail = pattern.substr(pattern.rfind('*') + 1);
    const std::size_t head_end = same_at(head, name, 0, lead);
    const std::size_t tail_at = last_characters(name, characters_in(tail, lead), lead);
    if (head_end == std::string_view::npos || tail_at == std::string_view::npos || tail_at < head_end ||
        same_at(tail, name, tail_at, lead) != name.size()) {
        return false;
    }
    std::string_view middle = name.substr(0, tail_at);
    std::size_t at = head_end;
    std::size_t p = star + 1;
    const std::size_t last = pattern.size() - tail.size() - 1;  // the last star
    while (p < last) {
        std::size_t next = pattern.find('*', p);
        std::string_view segment = pattern.substr(p, next - p);
        p = next + 1;
        if (segment.empty()) {
            continue;
        }
        std::size_t end = 0;
        if (find_segment(segment, middle, at, lead, &end) == std::string_view::npos) {
            return false;
        }
        at = end;
    }
    return true;
}

void name_key(std::string_view name, std::string* key, const LeadBytes& lead) {
    key->resize(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = character_length(name, i, lead);
        for (std::size_t k = 0; k < length; ++k) {
            (*key)[i + k] = key_byte(name, i + k, length);
        }
        i += length;
    }
}

namespace {

struct FoldTable {
    std::array<char, 256> to{};
    FoldTable() {
        for (int b = 0; b < 256; ++b) {
            to[static_cast<std::size_t>(b)] = folded(static_cast<char>(b));
        }
    }
};
const FoldTable FOLD;

}  // namespace

void key_bytes(std::string_view name, std::string* key) {
    key->resize(name.size());
    char* out = key->data();
    for (std::size_t i = 0; i < name.size(); ++i) {
        out[i] = FOLD.to[static_cast<unsigned char>(name[i])];
    }
}

std::vector<std::string> pattern_lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            lines.emplace_back(line);
        }
    }
    return lines;
}
