// FIND and GET: entries picked by name patterns, the rows for scripts, the
// files written and the one entry piped out; every pattern must match.
#include <cstdlib>
#include <filesystem>

#include "support/big_writer.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

// Index 98 bytes, so data from 122; 143 bytes in all.
const std::vector<FixtureEntry> ENTRIES = {
    {"data\\ini\\weapon.ini", std::string("w\r\n\0x", 5)},
    {"Data\\Ini\\ARMOR.ini", "armor"},
    {"maps\\harbour.map", "harbour"},
    {"a*[b].txt", "star"},
};
const std::string ROW[] = {"0\t5\t122\tdata\\ini\\weapon.ini\n", "1\t5\t127\tData\\Ini\\ARMOR.ini\n",
                           "2\t7\t132\tmaps\\harbour.map\n", "3\t4\t139\ta*[b].txt\n"};

class ByNameTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        write_file("x.big", big_archive(ENTRIES));
    }
    static std::string head() { return BANNER + info_block("x.big", 4, 143, 122); }
};

TEST_F(ByNameTest, FindWritesRowsOnly) {
    EXPECT_RUN(run({"x.big", "FIND"}), ROW[0] + ROW[1] + ROW[2] + ROW[3], 0);
    // Separators and letter case are the game's; a name with wildcards in
    // it is matched by itself.
    EXPECT_RUN(run({"x.big", "find", "DATA/INI/*.INI", "a*[b].txt"}), ROW[0] + ROW[1] + ROW[3], 0);
    write_file("list.txt", "maps/HARBOUR.MAP\r\n\r\n?ata\\ini\\weapon.ini\n");
    EXPECT_RUN(run({"x.big", "FIND", "@list.txt"}), ROW[0] + ROW[2], 0);
}

TEST_F(ByNameTest, FindRefusesOnStandardError) {
    EXPECT_RUN_ERR(run({"x.big", "FIND", "maps\\*", "none", "*.x"}), "",
                   "Error: No entry matches 'none'.\nError: No entry matches '*.x'.\n", 2);
    EXPECT_RUN_ERR(run({"x.big", "FIND", "@missing"}), "",
                   "Error: Could not read the list file 'missing'.\n", 2);
    write_file("empty.txt", "\r\n\n");
    EXPECT_RUN_ERR(run({"x.big", "FIND", "@empty.txt"}), "",
                   "Error: The list file 'empty.txt' holds no pattern.\n", 2);
    write_file("bad.big", "not an archive");
    EXPECT_RUN_ERR(run({"bad.big", "FIND"}), "", "Error: This is not a tarvenor BIG file.\n", 2);
}

// Streams tell no size: each is read to its end, a FIFO's open waiting for
// its writer as cat's does (which gives up in time, should the tool not come).
TEST_F(ByNameTest, ListFilesFromStreams) {
    if (host_is_windows() || std::system(("cd '" + folder().string() + "' && mkfifo fifo && " +
                                          "(timeout 60 sh -c 'echo maps/harbour.map >fifo' &)").c_str()) != 0) {
        GTEST_SKIP() << "FIFOs, /dev/stdin and /proc are POSIX paths";
    }
    const std::string comm = fs::path(tool_path()).filename().string().substr(0, 15);
    write_file("c.big", big_archive({{comm, "self"}}));
    EXPECT_RUN(run({"x.big", "FIND", "@fifo"}), ROW[2], 0);
    EXPECT_RUN(run({"c.big", "FIND", "@/proc/self/comm"}),
               "0\t4\t" + std::to_string(33 + comm.size()) + "\t" + comm + "\n", 0);
    EXPECT_RUN_ERR(run({"x.big", "FIND", "@/dev/stdin"}), "",
                   "Error: The list file '/dev/stdin' holds no pattern.\n", 2);
}

TEST_F(ByNameTest, GetExtractsTheMatchingEntries) {
    EXPECT_RUN(run({"x.big", "GET", "data/ini/*", "out"}),
               head() + extract_opening("out", 2) +
                   extracting(0, 5, "data\\ini\\weapon.ini", "out/data/ini/weapon.ini") + "OK\n" +
                   extracting(1, 5, "Data\\Ini\\ARMOR.ini", "out/Data/Ini/ARMOR.ini") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/data/ini/weapon.ini"), ENTRIES[0].data);
    EXPECT_EQ(read_file("out/Data/Ini/ARMOR.ini"), "armor");
    EXPECT_EQ(files_below("out").size(), 2u);
}

// Refused before anything is made: a pattern that matches nothing, a name
// EXTRACT would refuse; and wrong usage.
TEST_F(ByNameTest, GetWritesNothingWhenRefused) {
    EXPECT_RUN(run({"x.big", "GET", "maps/harbour.map", "none", "out"}),
               head() + "Error: No entry matches 'none'.\n", 2);
    for (const std::string name : {"..\\evil.txt", "sub\\trail\\", "sub\\."}) {
        write_file("h.big", big_archive({{"ok.txt", "1"}, {name, "2"}}));
        const unsigned long start = 16 + 15 + 9 + name.size() + 8;
        EXPECT_RUN(run({"h.big", "GET", "*", "out"}),
                   BANNER + info_block("h.big", 2, start + 2, start) +
                       "Error: Refusing to extract '" + name + "': unsafe file name.\n",
                   2);
        EXPECT_FALSE(exists("out"));
        EXPECT_FALSE(exists("evil.txt"));
        EXPECT_FALSE(exists("sub"));
    }
    EXPECT_RUN(run({"x.big", "GET", "out"}), head() + "Error: Bad parameters.\n", 1);
}

TEST_F(ByNameTest, GetOneEntryToStandardOutput) {
    RunOptions data;
    data.dataOutput = true;
    EXPECT_RUN_ERR(run({"x.big", "GET", "DATA/INI/WEAPON.INI", "-"}, data), ENTRIES[0].data,
                   head() + "Extracting[0] 5 bytes from 'data\\ini\\weapon.ini' to standard output: OK\n" +
                       "Completed successfully\n",
                   0);
    EXPECT_RUN_ERR(run({"x.big", "GET", "*.ini", "-"}, data), "",
                   head() + "Error: 2 entries match; standard output takes one.\n", 2);
}

}  // namespace
