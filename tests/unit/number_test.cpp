// Index arguments read as a 32-bit strtol would read them.
#include <gtest/gtest.h>

#include "cli/text/number.h"

namespace {

TEST(Strtol32, DigitsSignsAndBlanks) {
    EXPECT_EQ(strtol32("0"), 0);
    EXPECT_EQ(strtol32("17"), 17);
    EXPECT_EQ(strtol32("+17"), 17);
    EXPECT_EQ(strtol32("-1"), -1);
    EXPECT_EQ(strtol32(" \t\n42"), 42);
    EXPECT_EQ(strtol32("007"), 7);
    EXPECT_EQ(strtol32("12abc"), 12);
    EXPECT_EQ(strtol32("3.9"), 3);
}

TEST(Strtol32, NoDigitsIsZero) {
    EXPECT_EQ(strtol32(""), 0);
    EXPECT_EQ(strtol32("abc"), 0);
    EXPECT_EQ(strtol32("*"), 0);
    EXPECT_EQ(strtol32("-"), 0);
    EXPECT_EQ(strtol32("--5"), 0);
    EXPECT_EQ(strtol32("- 5"), 0);
    EXPECT_EQ(strtol32("0x10"), 0);
}

TEST(Strtol32, ClampsAtTheEdgesOfTheRange) {
    EXPECT_EQ(strtol32("2147483647"), 2147483647);
    EXPECT_EQ(strtol32("2147483648"), 2147483647);
    EXPECT_EQ(strtol32("4294967296"), 2147483647);
    EXPECT_EQ(strtol32("99999999999"), 2147483647);
    EXPECT_EQ(strtol32("99999999999999999999999999999999"), 2147483647);
    EXPECT_EQ(strtol32("-2147483647"), -2147483647);
    EXPECT_EQ(strtol32("-2147483648"), INT32_MIN);
    EXPECT_EQ(strtol32("-2147483649"), INT32_MIN);
    EXPECT_EQ(strtol32("-99999999999999999999999999999999"), INT32_MIN);
}

}  // namespace
