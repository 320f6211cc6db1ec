// The flags each Windows code page takes when text is narrowed into it.
#include <gtest/gtest.h>

#include "lib/text/code_page.h"

namespace {

TEST(CodePage, NarrowingFlagsByCodePage) {
    const struct {
        unsigned codePage;
        NarrowingFlags flags;
    } rows[] = {
        {1252, NarrowingFlags::no_best_fit},     {1250, NarrowingFlags::no_best_fit},
        {932, NarrowingFlags::no_best_fit},      {936, NarrowingFlags::no_best_fit},
        {949, NarrowingFlags::no_best_fit},      {950, NarrowingFlags::no_best_fit},
        {437, NarrowingFlags::no_best_fit},      {850, NarrowingFlags::no_best_fit},
        {65001, NarrowingFlags::fail_on_invalid}, {54936, NarrowingFlags::fail_on_invalid},
        {65000, NarrowingFlags::none},           {42, NarrowingFlags::none},
        {50220, NarrowingFlags::none},           {50229, NarrowingFlags::none},
        {57002, NarrowingFlags::none},           {57011, NarrowingFlags::none},
        // Around the ISCII range.
        {57001, NarrowingFlags::no_best_fit},    {57012, NarrowingFlags::no_best_fit},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codePage);
        EXPECT_EQ(narrowing_flags(row.codePage), row.flags);
    }
}

}  // namespace
