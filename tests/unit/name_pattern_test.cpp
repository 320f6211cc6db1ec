// Name patterns, as the commands that pick entries by name apply them.
#include <gtest/gtest.h>

#include "common/name_pattern.h"

namespace {

struct Match {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(NamePattern, Matching) {
    const Match rows[] = {
        {"data\\ini\\weapon.ini", "data\\ini\\weapon.ini", true},
        {"DATA/INI/Weapon.INI", "data\\ini\\weapon.ini", true},
        {"data\\ini\\weapon.ini", "data\\ini\\weapon.in", false},
        {"data\\ini\\weapon.in", "data\\ini\\weapon.ini", false},
        // '*' takes separators too; '?' exactly one byte.
        {"*.ini", "data\\ini\\weapon.ini", true},
        {"data\\*", "data\\ini\\weapon.ini", true},
        {"*", "", true},
        {"?", "", false},
        {"a?c", "a\\c", true},
        {"a?c", "abbc", false},
        {"*a*b*c*", "xxaxxbxxcxx", true},
        {"*a*b*c", "abcab", false},
        {"a*b", "aXbXb", true},
        {"**x**", "x", true},
        // Only '*' and '?' are special: brackets are bytes, and a name
        // with wildcards in it is matched by itself.
        {"[ab].txt", "[ab].txt", true},
        {"[ab].txt", "a.txt", false},
        {"f*?.txt", "f*?.txt", true},
        // Long segments are searched for otherwise than short ones.
        {"*abababababababababababababababababac*", "xxababababababababababababababababababacyy", true},
        {"*ABABABABABABABABABABABABABABABABABAC/*", "xxababababababababababababababababababac\\", true},
        {"*abababababababababababababababababac*", "xxabababababababababababababababababab", false},
        // Letters other than A-Z do not fold.
        {"\xc3\xa9", "\xc3\x89", false},
    };
    for (const Match& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " / " + row.name);
        EXPECT_EQ(name_matches(row.pattern, row.name), row.matches);
    }
    EXPECT_TRUE(has_wildcard("a*"));
    EXPECT_TRUE(has_wildcard("a?"));
    EXPECT_FALSE(has_wildcard("[a]\\b"));
}

// A plain reference: the matching table of pattern prefixes against name
// prefixes, folded by hand.
bool reference_match(const std::string& pattern, const std::string& name) {
    auto fold = [](char c) { return c == '/' ? '\\' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c); };
    std::vector<std::vector<bool>> can(pattern.size() + 1, std::vector<bool>(name.size() + 1));
    can[0][0] = true;
    for (std::size_t p = 1; p <= pattern.size(); ++p) {
        for (std::size_t n = 0; n <= name.size(); ++n) {
            char c = pattern[p - 1];
            can[p][n] = c == '*' ? can[p - 1][n] || (n > 0 && can[p][n - 1])
                                 : n > 0 && can[p - 1][n - 1] && (c == '?' || fold(c) == fold(name[n - 1]));
        }
    }
    return can[pattern.size()][name.size()];
}

TEST(NamePattern, AgreesWithAPlainReferenceOnRandomCases) {
    unsigned seed = 7;
    auto next = [&seed](unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    const char pattern_bytes[] = "aAb/\\*?";
    const char name_bytes[] = "aAbB/\\";
    for (int i = 0; i < 20000; ++i) {
        std::string pattern;
        std::string name;
        for (unsigned k = next(9); k > 0; --k) {
            pattern += pattern_bytes[next(sizeof pattern_bytes - 1)];
        }
        for (unsigned k = next(12); k > 0; --k) {
            name += name_bytes[next(sizeof name_bytes - 1)];
        }
        ASSERT_EQ(name_matches(pattern, name), reference_match(pattern, name)) << pattern << " / " << name;
    }
}

TEST(NamePattern, KeysMeetWhereExactPatternsMatch) {
    std::string a;
    std::string b;
    name_key("Data/Ini\\WEAPON.ini", &a);
    name_key("DATA\\INI/weapon.INI", &b);
    EXPECT_EQ(a, "DATA\\INI\\WEAPON.INI");
    EXPECT_EQ(a, b);
}

TEST(NamePattern, ListFileLines) {
    EXPECT_EQ(pattern_lines("a.txt\r\n\r\n\nsub\\*\n  \nlast"),
              (std::vector<std::string>{"a.txt", "sub\\*", "  ", "last"}));
    EXPECT_TRUE(pattern_lines("").empty());
    EXPECT_TRUE(pattern_lines("\n\r\n").empty());
}

}  // namespace
