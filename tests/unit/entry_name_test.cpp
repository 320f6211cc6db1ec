// The safety check of entry names, for both path styles on every host.
#include <gtest/gtest.h>

#include "lib/text/entry_name.h"
#include "shift_jis.h"

namespace {

constexpr PathStyle BOTH[] = {PathStyle::posix, PathStyle::windows};

TEST(EntryName, ClimbsAndAbsoluteNamesRefusedInBothStyles) {
    const char* refused[] = {
        "",          "\\a.txt",      "/a.txt",          "\\\\server\\share\\a", "C:a.txt",
        "C:\\a.txt", "c:/a.txt",     "..",              "..\\a.txt",            "../a.txt",
        "sub\\..",   "sub/..",       "sub\\..\\a.txt",  "sub/../a.txt",         "sub/..\\..\\a.txt",
        "a\\b\\..\\..\\..\\c",
        // A trailing separator or "." part names a folder, never a file.
        "trail\\", "sub/trail/", "a\\b/", ".", "x\\.", "sub/."};
    for (PathStyle style : BOTH) {
        for (const char* name : refused) {
            SCOPED_TRACE(name);
            EXPECT_FALSE(is_safe_entry_name(name, style));
        }
    }
}

TEST(EntryName, DotsInsideNamesAcceptedInBothStyles) {
    const char* accepted[] = {"a.txt",  "sub\\b.dat", "sub/b.dat", "..foo",   "a..b\\c.txt", "...x",
                              "sub\\.h", ".hidden",    "x\\..y\\z", "CONSOLE", "COM10",      "xnul.txt",
                              "NULL",   "CONIN",      "CLOCK",     "a b.txt"};
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
                                     // Names Windows would write under another name.
                                     "readme.",    "readme ",      "sub \\x",      "foo..",
                                     "a\\.\\b",     "x\\trail.\\y",
                                     // Consoles and the clock, with or without an extension.
                                     "CONIN$",     "sub\\conout$", "CONOUT$.txt",  "clock$",
                                     "CLOCK$.log",
                                     // Characters no Windows name holds.
                                     "a<b",        "a>b",          "a\"b",         "a|b",
                                     "what?",      "sub\\*.txt",
                                     // Windows also reserves COM and LPT with 0 and with the
                                     // superscript digits of its Latin-1 code page.
                                     "COM0",       "lpt0.txt",     "COM\xB9",     "com\xB2.log",
                                     "LPT\xB3",
                                     // Control bytes, which no Windows file name may hold.
                                     "a\x01b",     "sub\\tab\there", "new\nline",  "esc\x1b[2K",
                                     "\x1f",       "del\x7f"};
    for (const char* name : windows_refused) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(is_safe_entry_name(name, PathStyle::windows));
        EXPECT_TRUE(is_safe_entry_name(name, PathStyle::posix));
    }
    // What the code page cannot hold would be written as a look-alike.
    EXPECT_FALSE(is_safe_entry_name("caf\xE9.txt", PathStyle::windows, NO_LEAD_BYTES, false));
}

}  // namespace

namespace {

// A colon after anything but a letter is no drive.
TEST(EntryName, OnlyALetterMakesADrive) {
    for (const char* name : {"5:00.txt", "1:x", "_:y", ":a", "\xC4:x"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(is_safe_entry_name(name, PathStyle::posix));
        EXPECT_FALSE(is_safe_entry_name(name, PathStyle::windows));
    }
    for (const char* name : {"C:x", "z:", "a:", "Q:\\y"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(is_safe_entry_name(name, PathStyle::posix));
    }
}

// A name's start: only the components before its last separator count.
TEST(EntryName, StartJudgedOnWholeComponents) {
    for (const char* start : {"\\abc", "..\\x", "sub/..\\x", "C:\\x"}) {
        EXPECT_FALSE(is_safe_entry_name_start(start, PathStyle::posix)) << start;
    }
    for (const char* start : {"C:abc", "..", "sub\\..", "sub/..x", "CON\\x", "sub\\\\x"}) {
        EXPECT_TRUE(is_safe_entry_name_start(start, PathStyle::posix)) << start;
    }
    EXPECT_FALSE(is_safe_entry_name_start("CON\\x", PathStyle::windows));
    EXPECT_TRUE(is_safe_entry_name_start("sub\\CON", PathStyle::windows));
}

TEST(EntryName, EmptyComponents) {
    for (const char* name : {"", "\\a", "a\\", "a\\\\b", "a/", "a\\/b", "trail\\"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(has_empty_component(name));
    }
    for (const char* name : {"a", "a\\b", "a.b\\c", ".\\x", "a b"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(has_empty_component(name));
    }
}

// In a double-byte code page a name is read by characters, as Windows reads
// it: a second byte 5C or 7C is neither a separator nor a '|'. What would
// still climb, open a device or be rewritten stays refused.
TEST(EntryName, DoubleByteNamesReadByCharacters) {
    const LeadBytes sjis = shift_jis_lead_bytes();
    const char* accepted[] = {"\x83\x66\x81\x5B\x83\x5E\x95\x5C",  // データ表
                              "\x97\x5C\x92\xE8\x95\x5C\\c.txt",  // 予定表\c.txt
                              "\x81\x7C.txt",                     // －.txt
                              "\x83\x7C\\\x83\x5C\\x"};           // ポ\ソ\x
    for (const char* name : accepted) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(is_safe_entry_name(name, PathStyle::windows, sjis));
        EXPECT_FALSE(has_empty_component(name, sjis));
        // Read byte by byte, each is refused, by CREATE at least.
        EXPECT_TRUE(!is_safe_entry_name(name, PathStyle::windows) || has_empty_component(name));
    }
    const char* refused[] = {"\x95\x5C\\..\\x", "..\\\x95\x5C", "\x95\x5C\\CON", "\x95\x5C.",
                             "\x95\x5C \\x", "sub\\\x95\x5C\\", "a|\x95\x5C", "\x95\x5C:x",
                             // A lead byte that begins no character.
                             "\x95", "x\\\x95", "\x95/x", "x\x95.txt", "x\x95\x1f"};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(is_safe_entry_name(name, PathStyle::windows, sjis));
    }
    EXPECT_EQ(without_trailing_separators("\x95\x5C\\/", sjis), "\x95\x5C");
    EXPECT_TRUE(has_empty_component("\x95\x5C\\\\x", sjis));
    EXPECT_TRUE(is_safe_entry_name_start("\x95\x5C\\x\x95", PathStyle::windows, sjis));
    EXPECT_FALSE(is_safe_entry_name_start("\x95\x5C.\\x", PathStyle::windows, sjis));
}

}  // namespace
