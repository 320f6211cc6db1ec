// See name_pattern.h.
#include "common/name_pattern.h"

#include <vector>

#include "common/ascii.h"

namespace {

char folded(char c) {
    return c == '/' ? '\\' : ascii_upper(c);
}

}  // namespace

bool has_wildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

namespace {

bool same_at(std::string_view segment, std::string_view name, std::size_t at) {
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != '?' && folded(segment[i]) != folded(name[at + i])) {
            return false;
        }
    }
    return true;
}

// Segments shorter than this are tried at each place of the name, which
// costs at most this many comparisons a place; longer ones without '?' are
// searched for in linear time, with a table that costs more to make than
// a short search.
constexpr std::size_t LONG_SEGMENT = 32;

// Where `literal` first occurs in `name` from `from` on, or npos, by
// Knuth, Morris and Pratt: each byte of the name is compared at most twice.
std::size_t find_literal(std::string_view literal, std::string_view name, std::size_t from) {
    // border[i]: the length of the longest proper prefix of literal[0..i]
    // that is also its suffix.
    std::vector<std::size_t> border(literal.size(), 0);
    for (std::size_t i = 1, k = 0; i < literal.size(); ++i) {
        while (k > 0 && folded(literal[i]) != folded(literal[k])) {
            k = border[k - 1];
        }
        if (folded(literal[i]) == folded(literal[k])) {
            ++k;
        }
        border[i] = k;
    }
    for (std::size_t n = from, k = 0; n < name.size(); ++n) {
        while (k > 0 && folded(name[n]) != folded(literal[k])) {
            k = border[k - 1];
        }
        if (folded(name[n]) == folded(literal[k]) && ++k == literal.size()) {
            return n + 1 - literal.size();
        }
    }
    return std::string_view::npos;
}

// Where `segment` (no '*'; '?' any byte) first occurs in `name` from
// `from` on, or npos: in time linear in the name's length, but for a long
// segment holding '?', which costs its length at each place.
std::size_t find_segment(std::string_view segment, std::string_view name, std::size_t from) {
    if (segment.size() > name.size() - from) {
        return std::string_view::npos;
    }
    if (segment.size() >= LONG_SEGMENT && segment.find('?') == std::string_view::npos) {
        return find_literal(segment, name, from);
    }
    for (std::size_t at = from; at + segment.size() <= name.size(); ++at) {
        if (same_at(segment, name, at)) {
            return at;
        }
    }
    return std::string_view::npos;
}

}  // namespace

bool name_matches(std::string_view pattern, std::string_view name) {
    // The pattern is its segments between stars: the first must begin the
    // name, the last end it, and each one between is best taken where it
    // first occurs after the one before, which leaves the most name to the
    // rest. No place of the name is looked at twice for one segment.
    std::size_t star = pattern.find('*');
    if (star == std::string_view::npos) {
        return pattern.size() == name.size() && same_at(pattern, name, 0);
    }
    std::string_view head = pattern.substr(0, star);
    std::string_view tail = pattern.substr(pattern.rfind('*') + 1);
    if (head.size() + tail.size() > name.size() || !same_at(head, name, 0) ||
        !same_at(tail, name, name.size() - tail.size())) {
        return false;
    }
    std::string_view middle = name.substr(0, name.size() - tail.size());
    std::size_t at = head.size();
    std::size_t p = star + 1;
    const std::size_t last = pattern.size() - tail.size() - 1;  // the last star
    while (p < last) {
        std::size_t next = pattern.find('*', p);
        std::string_view segment = pattern.substr(p, next - p);
        p = next + 1;
        if (segment.empty()) {
            continue;
        }
        std::size_t found = find_segment(segment, middle, at);
        if (found == std::string_view::npos) {
            return false;
        }
        at = found + segment.size();
    }
    return true;
}

void name_key(std::string_view name, std::string* key) {
    key->resize(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        (*key)[i] = folded(name[i]);
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
