// Name patterns, as the commands that pick entries by name apply them.
#include <gtest/gtest.h>

#include "lib/patterns/name_pattern.h"
#include "lib/patterns/pattern_set.h"
#include "shift_jis.h"

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

// Patterns of up to 8 bytes and names of up to 11, drawn from two alphabets.
struct RandomCases {
    unsigned seed;
    std::string pattern_bytes;
    std::string name_bytes;
    unsigned draw(unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    }
    std::pair<std::string, std::string> next() {
        std::pair<std::string, std::string> out;
        for (unsigned k = draw(9); k > 0; --k) {
            out.first += pattern_bytes[draw(static_cast<unsigned>(pattern_bytes.size()))];
        }
        for (unsigned k = draw(12); k > 0; --k) {
            out.second += name_bytes[draw(static_cast<unsigned>(name_bytes.size()))];
        }
        return out;
    }
};

TEST(NamePattern, AgreesWithAPlainReferenceOnRandomCases) {
    RandomCases cases{7, "aAb/\\*?", "aAbB/\\"};
    for (int i = 0; i < 20000; ++i) {
        const auto [pattern, name] = cases.next();
        ASSERT_EQ(name_matches(pattern, name), reference_match(pattern, name)) << pattern << " / " << name;
    }
}

// In code page 932 a second byte is neither a letter nor a separator:
// 右 89 45 and 影 89 65, 表 95 5C, ア 83 41. By the pattern set's lookups
// too, and with byte rules as the old rows had them.
TEST(NamePattern, DoubleByteCharacters) {
    struct Row {
        const char* pattern;
        const char* name;
        bool bytes, characters;
    };
    const Row rows[] = {
        {"data\\\x89\x45.ini", "data\\\x89\x65.ini", true, false},
        {"*\\c.txt", "\x97\x5C\x92\xE8\x95\x5C" "c.txt", true, false},
        {"*\\c.txt", "\x95\x5C\\c.txt", true, true},
        {"*a.txt", "\x83\x41.txt", true, false},
        {"?.txt", "\x83\x41.txt", false, true},
        {"??.txt", "\x83\x41.txt", true, false},
        {"*\x95*", "\x95\x5C", true, false},  // a lead byte alone is no character
        {"*\x89\x65*", "x\x89\x65y", true, true},
        {"*AB" "ABABABABABABABABABABABABABABABABABAC*", "\x83\x41" "BABABABABABABABABABABABABABABABABABAC", true, false},
        {"*\x83\x41" "BABABABABABABABABABABABABABABABABABAC?", "x\x83\x41" "BABABABABABABABABABABABABABABABABABAC\x83\x41", false, true},
    };
    const LeadBytes lead = shift_jis_lead_bytes();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " / " + row.name);
        EXPECT_EQ(name_matches(row.pattern, row.name), row.bytes);
        EXPECT_EQ(name_matches(row.pattern, row.name, lead), row.characters);
        PatternSet set;
        pattern_set_build(set, {row.pattern}, lead);
        bool found = false;
        pattern_set_match(set, row.name, [&](std::uint32_t) { found = true; });
        EXPECT_EQ(found, row.characters);
    }
}

// The same reference over characters: a lead byte and the byte after it
// (from 40 hex) are one.
TEST(NamePattern, DoubleByteAgreesWithAReference) {
    const LeadBytes lead = shift_jis_lead_bytes();
    auto characters = [&](const std::string& text) {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < text.size(); i += out.back().size()) {
            out.push_back(text.substr(i, text[i] == '*' || text[i] == '?' ? 1 : character_length(text, i, lead)));
        }
        return out;
    };
    RandomCases cases{11, "aA\\/*?\x83\x89", "aAe\\/\x83\x89"};
    for (int i = 0; i < 20000; ++i) {
        const auto [pattern, name] = cases.next();
        const std::vector<std::string> p = characters(pattern);
        const std::vector<std::string> n = characters(name);
        std::vector<std::vector<bool>> can(p.size() + 1, std::vector<bool>(n.size() + 1));
        can[0][0] = true;
        for (std::size_t a = 1; a <= p.size(); ++a) {
            for (std::size_t b = 0; b <= n.size(); ++b) {
                const std::string& c = p[a - 1];
                can[a][b] = c == "*" ? can[a - 1][b] || (b > 0 && can[a][b - 1])
                                     : b > 0 && can[a - 1][b - 1] &&
                                           (c == "?" || (c.size() == 1 ? reference_match(c, n[b - 1]) : c == n[b - 1]));
            }
        }
        ASSERT_EQ(name_matches(pattern, name, lead), can[p.size()][n.size()]) << pattern << " / " << name;
    }
}

TEST(NamePattern, KeysMeetWhereExactPatternsMatch) {
    std::string a;
    std::string b;
    name_key("Data/Ini\\WEAPON.ini", &a);
    name_key("DATA\\INI/weapon.INI", &b);
    EXPECT_EQ(a, "DATA\\INI\\WEAPON.INI");
    EXPECT_EQ(a, b);
    name_key("\x89\x65/\x95\x5C", &a, shift_jis_lead_bytes());
    EXPECT_EQ(a, "\x89\x65\\\x95\x5C");
}

TEST(NamePattern, ListFileLines) {
    EXPECT_EQ(pattern_lines("a.txt\r\n\r\n\nsub\\*\n  \nlast"),
              (std::vector<std::string>{"a.txt", "sub\\*", "  ", "last"}));
    EXPECT_TRUE(pattern_lines("").empty());
    EXPECT_TRUE(pattern_lines("\n\r\n").empty());
}

}  // namespace

// Many patterns at once, by the set's lookups (heads, tails, the literals
// inside, the rest), find exactly the patterns that match one by one.
TEST(NamePattern, SetFindsWhatEachPatternMatches) {
    const LeadBytes lead = shift_jis_lead_bytes();
    for (const LeadBytes* rules : {&NO_LEAD_BYTES, &lead}) {
        RandomCases cases{13, "aAb/\\*?*\x83", "aAbB/\\\x83"};
        for (int i = 0; i < 3000; ++i) {
            std::vector<std::string> patterns;
            for (int k = 0; k < 6; ++k) {
                std::string pattern(1, '*');
                pattern.append(cases.next().first).append(k % 2 == 0 ? "*" : "");
                patterns.push_back(pattern);
            }
            const std::string name = cases.next().second;
            PatternSet set;
            pattern_set_build(set, patterns, *rules);
            std::vector<bool> found(patterns.size());
            pattern_set_match(set, name, [&](std::uint32_t p) {
                EXPECT_FALSE(found[p]) << "pattern " << p << " found twice";
                found[p] = true;
            });
            for (std::size_t p = 0; p < patterns.size(); ++p) {
                ASSERT_EQ(found[p], name_matches(patterns[p], name, *rules)) << patterns[p] << " / " << name;
            }
        }
    }
}
