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
