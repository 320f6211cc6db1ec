// The order of a folder's items where the system gives none.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/patterns/listing_order.h"

namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return listed_before(a, b);
    });
    return names;
}

TEST(ListingOrder, LettersWithoutRegardToCaseThenBytes) {
    EXPECT_EQ(sorted({"b", "a", "B", "A"}), (std::vector<std::string>{"A", "a", "B", "b"}));
    // '_' (5F) lies between the upper-case letters (41-5A) and the lower-case
    // ones (61-7A): folded, every letter comes before it.
    EXPECT_EQ(sorted({"_x", "zeta", "Alpha", "a.txt"}),
              (std::vector<std::string>{"a.txt", "Alpha", "zeta", "_x"}));
    EXPECT_EQ(sorted({"9", "10", "1"}), (std::vector<std::string>{"1", "10", "9"}));
    // A name before every longer name it begins.
    EXPECT_EQ(sorted({"ab", "a", "abc"}), (std::vector<std::string>{"a", "ab", "abc"}));
}

TEST(ListingOrder, BytesAboveAsciiAreUnsignedAndUnfolded) {
    // 0xE9 is above every ASCII byte; 0xC9 and 0xE9 (É and é in Latin-1)
    // do not fold into each other.
    EXPECT_EQ(sorted({"\xE9", "z", "\xC9"}), (std::vector<std::string>{"z", "\xC9", "\xE9"}));
}

}  // namespace
