// Resolving and joining local paths, for both styles on every host.
#include <string>

#include <gtest/gtest.h>

#include "cli/text/directory_form.h"
#include "lib/text/paths.h"
#include "shift_jis.h"

namespace {

std::string resolved(std::string_view cwd, std::string_view dir, PathStyle style,
                     std::size_t size = PATH_CAPACITY) {
    char out[1024];
    if (!resolve_path_from(cwd, dir, style, out, size)) {
        return "<failed>";
    }
    return out;
}

TEST(ResolvePath, Posix) {
    EXPECT_EQ(resolved("/home/u", "out", PathStyle::posix), "/home/u/out");
    EXPECT_EQ(resolved("/home/u", "/srv/out", PathStyle::posix), "/srv/out");
    EXPECT_EQ(resolved("/", "out", PathStyle::posix), "//out");
    // Neither a drive letter nor a backslash makes a path absolute here.
    EXPECT_EQ(resolved("/home/u", "C:out", PathStyle::posix), "/home/u/C:out");
    EXPECT_EQ(resolved("/home/u", "\\out", PathStyle::posix), "/home/u/\\out");
}

TEST(ResolvePath, Windows) {
    EXPECT_EQ(resolved("C:\\work", "out", PathStyle::windows), "C:\\work\\out");
    EXPECT_EQ(resolved("C:\\", "out", PathStyle::windows), "C:\\\\out");
    EXPECT_EQ(resolved("C:\\work", "D:\\x", PathStyle::windows), "D:\\x");
    EXPECT_EQ(resolved("C:\\work", "\\\\server\\share\\out", PathStyle::windows),
              "\\\\server\\share\\out");
    // Rooted: from the root of the base's drive or share.
    EXPECT_EQ(resolved("C:\\work", "\\out", PathStyle::windows), "C:\\out");
    EXPECT_EQ(resolved("C:\\", "\\out", PathStyle::windows), "C:\\out");
    EXPECT_EQ(resolved("C:\\work", "/out", PathStyle::windows), "C:/out");
    EXPECT_EQ(resolved("\\\\srv\\share\\dir", "\\out", PathStyle::windows), "\\\\srv\\share\\out");
    // Drive-relative: the base is that drive's current directory.
    EXPECT_EQ(resolved("D:\\games", "D:", PathStyle::windows), "D:\\games");
    EXPECT_EQ(resolved("D:\\games", "d:mods", PathStyle::windows), "D:\\games\\mods");
    EXPECT_EQ(resolved("D:\\", "D:mods", PathStyle::windows), "D:\\\\mods");
    // Device paths are taken by no command.
    EXPECT_EQ(resolved("C:\\work", "\\\\?\\Z:\\x", PathStyle::windows), "<failed>");
}

TEST(PathForm, BothStyles) {
    struct Row {
        const char* path;
        PathForm windows;
        PathForm posix;
    };
    const Row rows[] = {
        {"out", PathForm::relative, PathForm::relative},
        {"/out", PathForm::rooted, PathForm::absolute},
        {"\\out", PathForm::rooted, PathForm::relative},
        {"C:\\out", PathForm::absolute, PathForm::relative},
        {"c:/out", PathForm::absolute, PathForm::relative},
        {"C:", PathForm::drive_relative, PathForm::relative},
        {"C:out", PathForm::drive_relative, PathForm::relative},
        {"5:out", PathForm::relative, PathForm::relative},
        {"\\\\server\\share", PathForm::absolute, PathForm::relative},
        {"//server/share", PathForm::absolute, PathForm::absolute},
        {"\\\\?\\C:\\x", PathForm::device, PathForm::relative},
        {"\\\\.\\PhysicalDrive0", PathForm::device, PathForm::relative},
        {"//?/C:/x", PathForm::device, PathForm::absolute},
        {"\\??\\C:\\x", PathForm::device, PathForm::relative},
        {"\\\\?", PathForm::device, PathForm::relative},
        {"\\\\?x\\share", PathForm::absolute, PathForm::relative},
        {"", PathForm::relative, PathForm::relative},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(path_form(row.path, PathStyle::windows), row.windows);
        EXPECT_EQ(path_form(row.path, PathStyle::posix), row.posix);
    }
}

TEST(ResolvePath, RefusesWhatDoesNotFit) {
    const std::string cwd = "/" + std::string(249, 'c');  // 250 bytes
    // 250 + 1 + 8 = 259 bytes and the terminator fill the buffer exactly.
    EXPECT_EQ(resolved(cwd, "12345678", PathStyle::posix), cwd + "/12345678");
    EXPECT_EQ(resolved(cwd, "123456789", PathStyle::posix), "<failed>");
    EXPECT_EQ(resolved("/", std::string(PATH_CAPACITY - 1, 'a'), PathStyle::posix), "<failed>");
    EXPECT_EQ(resolved("C:\\", "D:" + std::string(PATH_CAPACITY - 2, 'a'), PathStyle::windows),
              "<failed>");
    EXPECT_EQ(resolved("/home", "out", PathStyle::posix, 0), "<failed>");
}

TEST(AppendArchiveName, BackslashesBecomeTheLocalSeparator) {
    char posix[PATH_CAPACITY] = "/out";
    ASSERT_TRUE(append_archive_name(posix, sizeof posix, "sub\\b.dat", PathStyle::posix));
    EXPECT_STREQ(posix, "/out/sub/b.dat");
    char windows[PATH_CAPACITY] = "C:\\out";
    ASSERT_TRUE(append_archive_name(windows, sizeof windows, "sub\\b.dat", PathStyle::windows));
    EXPECT_STREQ(windows, "C:\\out\\sub\\b.dat");
}

TEST(AppendArchiveName, RefusesWhatDoesNotFit) {
    char buffer[12] = "/out";  // 4 + 1 + 6 = 11 bytes and the terminator
    EXPECT_FALSE(append_archive_name(buffer, sizeof buffer, "abcdefg", PathStyle::posix));
    EXPECT_STREQ(buffer, "/out");
    EXPECT_TRUE(append_archive_name(buffer, sizeof buffer, "abcdef", PathStyle::posix));
    EXPECT_STREQ(buffer, "/out/abcdef");
}

TEST(ArchiveNameFromLocal, LocalSeparatorsBecomeBackslashes) {
    char out[PATH_CAPACITY];
    ASSERT_TRUE(archive_name_from_local("sub/b.dat", PathStyle::posix, out, sizeof out));
    EXPECT_STREQ(out, "sub\\b.dat");
    ASSERT_TRUE(archive_name_from_local("sub\\b/c", PathStyle::windows, out, sizeof out));
    EXPECT_STREQ(out, "sub\\b\\c");
    EXPECT_FALSE(archive_name_from_local("abcd", PathStyle::posix, out, 4));
}

// Only whole folders are shared ("ab" is not "a"); doubled separators are skipped.
TEST(PathComponents, SharedAndNext) {
    EXPECT_EQ(shared_components("/o/a/b", "/o/a/c", PathStyle::posix), 4u);
    EXPECT_EQ(shared_components("/o/a/b", "/o/a", PathStyle::posix), 4u);
    EXPECT_EQ(shared_components("/o/ab", "/o/a", PathStyle::posix), 2u);
    EXPECT_EQ(shared_components("C:\\o\\a/b", "C:\\o\\a", PathStyle::windows), 6u);
    EXPECT_EQ(next_component_end("/o//a/b", 2, PathStyle::posix), 5u);
    EXPECT_EQ(next_component_end("/o/a//", 4, PathStyle::posix), std::string_view::npos);
}

// A second byte 5C is no separator: "C:\o\表" has its last one at 4.
TEST(PathComponents, DoubleByteCharactersHoldNoSeparator) {
    const LeadBytes sjis = shift_jis_lead_bytes();
    EXPECT_EQ(last_separator("C:\\o\\\x95\x5C", PathStyle::windows, sjis), 4u);
    EXPECT_EQ(last_separator("C:\\o\\\x95\x5C", PathStyle::windows), 6u);
    EXPECT_EQ(next_component_end("C:\\\x95\x5Cx\\y", 3, PathStyle::windows, sjis), 6u);
    EXPECT_EQ(shared_components("C:\\\x95\x5C\\a", "C:\\\x95\x5C", PathStyle::windows, sjis), 5u);
    EXPECT_EQ(shared_components("C:\\\x95\x5Cx", "C:\\\x95\x5C", PathStyle::windows, sjis), 2u);
}

// Windows folders are read by characters too: ポ (83 7C) holds no '|'.
TEST(PathComponents, WindowsFolderCharacters) {
    const LeadBytes sjis = shift_jis_lead_bytes();
    EXPECT_TRUE(directory_form_accepted("C:\\\x83\x7C\\.\\..", PathStyle::windows, sjis));
    EXPECT_FALSE(directory_form_accepted("C:\\\x83\x7C", PathStyle::windows));
    EXPECT_TRUE(directory_form_accepted("out \\x.", PathStyle::posix));
}

}  // namespace
