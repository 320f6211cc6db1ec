// Names cut for printing: pieces that end on whole characters, and names
// quoted by their first 259 bytes.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "common/printable.h"

namespace {

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
