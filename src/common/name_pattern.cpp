// See name_pattern.h.
#include "common/name_pattern.h"

#include "common/ascii.h"

namespace {

char folded(char c) {
    return c == '/' ? '\\' : ascii_upper(c);
}

}  // namespace

bool has_wildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

bool name_matches(std::string_view pattern, std::string_view name) {
    // The last '*' seen and where in the name it began to match: a mismatch
    // after it lets that '*' take one byte more. Earlier stars never need
    // to take more, so no search goes back further than that.
    constexpr std::size_t none = std::string_view::npos;
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = none;
    std::size_t star_from = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            star_from = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || folded(pattern[p]) == folded(name[n]))) {
            ++p;
            ++n;
        } else if (star != none) {
            p = star + 1;
            n = ++star_from;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
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
