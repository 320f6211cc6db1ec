// What printable() shows of names and paths, by the console's rules (UTF-8
// and a code page, on every host), and names cut for printing: pieces that
// end on whole characters, names quoted by their first 259 bytes.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "cli/text/printable.h"

namespace {

struct Shown {
    std::string text;
    std::string shown;
};

TEST(Printable, Utf8Console) {
    const Shown rows[] = {
        {"plain\\name.txt", "plain\\name.txt"},
        {"line\nbreak\x1b[31m\x7f", "line?break?[31m?"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        // C1 controls, one '?' each, and the bytes a terminal takes for them
        // where they are no UTF-8.
        {"a\xc2\x85" "b\xc2\x9b" "31m\xc2\xa0", "a?b?31m\xc2\xa0"},
        {"\x9b" "31m\x85\xa0\xff", "?31m?\xa0\xff"},
        // Overrides and isolates; the marks beside them are not controls.
        {"invoice\xe2\x80\xaetxt.exe", "invoice?txt.exe"},
        {"\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad", "????"},
        {"\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8f\xe2\x81\xaa", "?x?\xe2\x80\x8f\xe2\x81\xaa"},
        // Sequences cut short, overlong or surrogate: each byte on its own.
        {"\xe2\x80", "\xe2?"},
        {"\xc1\x85\xe0\x82\x85\xed\xa0\x80", "\xc1?\xe0??\xed\xa0?"},
    };
    ConsoleText utf8;
    for (const Shown& row : rows) {
        SCOPED_TRACE(row.text);
        std::string storage;
        EXPECT_EQ(printable(row.text, storage, utf8), row.shown);
    }
}

TEST(Printable, CodePageConsole) {
    // As a double-byte code page might have it: 0x81 a lead byte, 0x85 and
    // the C0 bytes controls.
    ConsoleText code_page;
    code_page.utf8 = false;
    for (int byte = 1; byte < 0x20; ++byte) {
        code_page.controls[byte] = true;
    }
    code_page.controls[0x7f] = true;
    code_page.controls[0x85] = true;
    code_page.leadBytes[0x81] = true;
    const Shown rows[] = {
        {"a\x85" "b\xc2\x85\t", "a?b\xc2?" "?"},
        {"\x81\x85\x81\x5c\x85", "\x81\x85\x81\x5c?"},
        {"ends in a lead byte \x81", "ends in a lead byte \x81"},
    };
    for (const Shown& row : rows) {
        SCOPED_TRACE(row.text);
        std::string storage;
        EXPECT_EQ(printable(row.text, storage, code_page), row.shown);
    }
}

// Leads of 2, 3 and 4 bytes, cut and whole; bytes that begin no sequence;
// a lead too far back for its sequence to be cut.
TEST(Printable, WholeCharactersHoldsBackOnlyACutSequence) {
    const std::pair<std::string, std::size_t> rows[] = {
        {"", 0},       {"abc", 3},      {"ab\xC3", 2},        {"ab\xC3\xA9", 4},
        {"a\xE2", 1},  {"a\xE2\x80", 1}, {"a\xE2\x80\xAE", 4}, {"\xF0\x9F\x98", 0},
        {"ab\x80", 3}, {"ab\xC1", 3},     {"ab\xF5", 3},        {"\xF0\x80\x80\x80\x80", 5}};
    for (const auto& [piece, whole] : rows) {
        EXPECT_EQ(whole_characters(piece), whole) << testing::PrintToString(piece);
    }
}

// In a code page only a walk from the start tells a lead byte at the end
// from the second byte of a character (0x81 is both here).
TEST(Printable, WholeCharactersInACodePageHoldsBackALoneLeadByte) {
    ConsoleText code_page;
    code_page.utf8 = false;
    code_page.leadBytes[0x81] = true;
    const std::pair<std::string, std::size_t> rows[] = {
        {"", 0}, {"ab", 2}, {"a\x81", 1}, {"\x81\x81", 2}, {"\x81\x81\x81", 2}, {"\xC3", 1}};
    for (const auto& [piece, whole] : rows) {
        EXPECT_EQ(whole_characters(piece, code_page), whole) << testing::PrintToString(piece);
    }
    EXPECT_EQ(whole_characters("ab\xC3", ConsoleText{}), 2u);
}

TEST(Printable, QuotedNameIsCutAfter259Bytes) {
    const std::string n257(257, 'n'), n258(258, 'n'), n259(259, 'n');
    const std::pair<std::string, std::string> rows[] = {
        {"a\x01\x7F", "a??"},
        {n259, n259},
        {n259 + "x", n259 + "..."},
        {"\x1B" + n259, "?" + n258 + "..."},
        {n258 + "\xC3\xA9", n258 + "..."},  // the cut falls inside the last character
        {n257 + "\xC3\xA9x", n257 + "\xC3\xA9..."}};
    for (const auto& [name, quoted] : rows) {
        std::string storage;
        EXPECT_EQ(quoted_name(name, storage), quoted) << name.size();
    }
}

}  // namespace
