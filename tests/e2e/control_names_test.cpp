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

}  // namespace
