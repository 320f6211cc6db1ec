// The safety check of entry names, for both path styles on every host.
#include <gtest/gtest.h>

#include "common/entry_name.h"

namespace {

constexpr PathStyle BOTH[] = {PathStyle::posix, PathStyle::windows};

TEST(EntryName, ClimbsAndAbsoluteNamesRefusedInBothStyles) {
    const char* refused[] = {
        "",          "\\a.txt",      "/a.txt",          "\\\\server\\share\\a", "C:a.txt",
        "C:\\a.txt", "c:/a.txt",     "..",              "..\\a.txt",            "../a.txt",
        "sub\\..",   "sub/..",       "sub\\..\\a.txt",  "sub/../a.txt",         "sub/..\\..\\a.txt",
        "a\\b\\..\\..\\..\\c"};
    for (PathStyle style : BOTH) {
        for (const char* name : refused) {
            SCOPED_TRACE(name);
            EXPECT_FALSE(is_safe_entry_name(name, style));
        }
    }
}

TEST(EntryName, DotsInsideNamesAcceptedInBothStyles) {
    const char* accepted[] = {"a.txt", "sub\\b.dat", "sub/b.dat", "..foo",  "foo..", "a..b\\c.txt",
                              "...x",  "sub\\.h",    ".hidden",   "a\\.\\b", "x\\..y\\z", "CONSOLE",
                              "COM10", "xnul.txt",   "NULL"};
    for (PathStyle style : BOTH) {
        for (const char* name : accepted) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(is_safe_entry_name(name, style));
        }
    }
}

// What Windows alone reads as a stream, a device or a climb.
TEST(EntryName, WindowsOnlyDangers) {
    const char* windows_refused[] = {"ab:c",       "sub\\a:b.txt", "a.txt:stream", "CON",
                                     "con",        "nul.txt",      "sub\\COM1",    "lpt9.log",
                                     "con .txt",   "AUX\\x",       "PRN.",         "...",
                                     ". .",        "sub\\...\\x",  "sub\\.. ",
                                     // Windows also reserves COM and LPT with 0 and with the
                                     // superscript digits of its Latin-1 code page.
                                     "COM0",       "lpt0.txt",     "COM\xB9",     "com\xB2.log",
                                     "LPT\xB3"};
    for (const char* name : windows_refused) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(is_safe_entry_name(name, PathStyle::windows));
        EXPECT_TRUE(is_safe_entry_name(name, PathStyle::posix));
    }
}

}  // namespace
