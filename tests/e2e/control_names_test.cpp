// Names holding control bytes, from archives and from trees: every line that
// shows such a name shows each control byte as '?', so that a name cannot
// forge a line or drive the terminal; the bytes stored and the files written
// keep the name as it is (Windows refuses to write such names at all).
#include "support/big_writer.h"
#include "support/tool_test.h"

namespace {

const std::vector<FixtureEntry> CONTROL_NAMES = {
    {"forged\n0                 9  evil.txt", "1"},
    {"\x1b]0;owned\x07title", "22"},
    {"del\x7f\tx", "333"},
};
// The names as every line shows them.
const std::vector<std::string> SHOWN = {"forged?0                 9  evil.txt", "?]0;owned?title",
                                        "del??x"};

unsigned long start_of(const std::vector<FixtureEntry>& entries) {
    unsigned long start = 16 + 8;
    for (const FixtureEntry& entry : entries) {
        start += 9 + entry.name.size();
    }
    return start;
}

std::string info(const std::vector<FixtureEntry>& entries, const std::string& archive_bytes) {
    return BANNER + info_block("x.big", static_cast<int>(entries.size()), archive_bytes.size(),
                               start_of(entries));
}

class ControlNamesTest : public ToolTest {};

TEST_F(ControlNamesTest, ListShowsControlBytesAsQuestionMarks) {
    const std::string bytes = big_archive(CONTROL_NAMES);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "LIST"}),
               info(CONTROL_NAMES, bytes) + "Listing all files...\n\nIndex\t\tSize\tFileName\n" +
                   "0                 1  " + SHOWN[0] + "\n" + "1                 2  " +
                   SHOWN[1] + "\n" + "2                 3  " + SHOWN[2] + "\n" +
                   "Completed successfully\n",
               0);
}

TEST_F(ControlNamesTest, ExtractWritesTheNamesAsTheyAre) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Windows allows no control bytes in file names";
    }
    const std::string bytes = big_archive(CONTROL_NAMES);
    write_file("x.big", bytes);
    std::string expected = info(CONTROL_NAMES, bytes) + extract_opening("out", 1);
    for (std::size_t n = 0; n < SHOWN.size(); ++n) {
        expected += "Extracting[" + std::to_string(n) + "] " + std::to_string(n + 1) + " bytes from '" +
                    SHOWN[n] + "' to '" + local("out/" + SHOWN[n]) + "': OK\n";
    }
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}), expected + "Completed successfully\n", 0);
    for (const FixtureEntry& entry : CONTROL_NAMES) {
        EXPECT_EQ(read_file("out/" + entry.name), entry.data);
    }
    EXPECT_EQ(files_below("out").size(), 3u);
}

TEST_F(ControlNamesTest, WindowsRefusesThemBeforeCreatingAnything) {
    if (!host_is_windows()) {
        GTEST_SKIP() << "only Windows forbids control bytes in file names";
    }
    const std::vector<FixtureEntry> entries = {{"ok.txt", "fine"}, {"sub\\bad\x01name", "x"}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               info(entries, bytes) + extract_opening("out", 1) +
                   extracting(0, 4, "ok.txt", "out/ok.txt") + "OK\n" +
                   "Error: Refusing to extract 'sub\\bad?name': unsafe file name.\n",
               2);
    EXPECT_EQ(files_below("out"), std::vector<std::string>{"ok.txt"});
    EXPECT_FALSE(exists("out/sub"));
}

// A refusal cannot be overwritten on the terminal by a fake success.
TEST_F(ControlNamesTest, RefusalShowsTheNameDefused) {
    const std::string name = "..\\\r\x1b[2KExtracting ok\x1b[1A";
    const std::vector<FixtureEntry> entries = {{name, "evil"}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               info(entries, bytes) + extract_opening("out", 1) +
                   "Error: Refusing to extract '..\\??[2KExtracting ok?[1A': unsafe file name.\n",
               2);
    EXPECT_TRUE(files_below("out").empty());
}

TEST_F(ControlNamesTest, CreateShowsTheNameDefusedAndStoresItAsItIs) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Windows allows no control bytes in file names";
    }
    write_file("in/new\nline.txt", "abc");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Adding[0] 0kb '" +
                   local("in/new?line.txt") + "': Done\n" + "Total file count: 1\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == big_archive({{"new\nline.txt", "abc"}}));
}

// Paths typed or found on the machine are shown defused as well: an archive,
// a folder or a current directory named with escapes, and names that read
// as others in UTF-8 (a C1 control, a right-to-left override).
TEST_F(ControlNamesTest, PathsFromCommandLineAndMachineAreDefused) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Windows allows no control bytes in file names";
    }
    const std::string cwd = "cwd\x1b]0;t\x07";
    const std::string shown_cwd = "cwd?]0;t?";
    const std::vector<FixtureEntry> entries = {{"a.txt", "abc"}, {"r\xe2\x80\xaetxt.exe\xc2\x9b", "x"}};
    const std::string bytes = big_archive(entries);
    write_file(cwd + "/d\x1b[31m.big", bytes);
    write_file(cwd + "/in\x1b[3m/a.txt", "abc");
    const std::string opening = BANNER + info_block("d?[31m.big", 2, bytes.size(), start_of(entries));
    EXPECT_RUN(run_in(cwd, {"d\x1b[31m.big", "LIST"}),
               opening + "Listing all files...\n\nIndex\t\tSize\tFileName\n" + "0                 3  a.txt\n" +
                   "1                 1  r?txt.exe?\n" + "Completed successfully\n",
               0);
    EXPECT_RUN(run_in(cwd, {"d\x1b[31m.big", "EXTRACT", "0", "o\x1b[1m"}),
               opening + extract_opening("o?[1m", 1) +
                   extracting(0, 3, "a.txt", shown_cwd + "/o?[1m/a.txt") + "OK\n" + "Completed successfully\n",
               0);
    EXPECT_EQ(read_file(cwd + "/o\x1b[1m/a.txt"), "abc");
    EXPECT_RUN(run_in(cwd, {"n\x1b[2m.big", "CREATE", "in\x1b[3m"}),
               BANNER + "Import directory: " + local(shown_cwd + "/in?[3m") + "\n\nCreating 'n?[2m.big'\n" +
                   "Adding[0] 0kb '" + local(shown_cwd + "/in?[3m/a.txt") + "': Done\n" +
                   "Total file count: 1\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file(cwd + "/n\x1b[2m.big") == big_archive({{"a.txt", "abc"}}));
    const std::string too_long = "\x1b[4m" + std::string(300, 'x');
    EXPECT_RUN(run_in(cwd, {"t.big", "CREATE", too_long}),
               BANNER + "Error: Path too long: '?[4m" + std::string(255, 'x') + "...'.\n", 2);
}

}  // namespace
