// Names and paths as Windows means them: names the ANSI code page cannot
// hold, in a tree or on the command line; drive-relative, rooted and device
// directories; names Windows would rewrite or open as devices. These cases
// only arise on Windows and skip elsewhere. Test sources are UTF-8, and so
// are the names written here; the tool prints in the ANSI code page
// (1252 under Wine, where these tests run).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/big_writer.h"
#include "support/host.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

const std::string NOT_IN_CODE_PAGE = "' cannot be stored: its name holds characters that the ANSI "
                                     "code page cannot represent.\n";

fs::path utf8_path(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string argument_refused(const std::string& shown) {
    return BANNER + "Error: The argument '" + shown +
           "' holds characters that the ANSI code page cannot represent.\n";
}

class WindowsPathsTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (!host_is_windows()) {
            GTEST_SKIP() << "Windows' code pages, drives and device names";
        }
    }

    // A file whose name, given in UTF-8, may lie outside the code page.
    void write_unicode(const std::string& relative, const std::string& bytes) const {
        fs::path path = folder() / utf8_path(relative);
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }

    // The drive of the test's folder, "C:".
    std::string drive() const { return local("").substr(0, 2); }
};

// The ANSI listing's best-fit stand-ins would open other files ("l.txt" is
// "L.txt"): a name that does not fit the code page ends the run.
TEST_F(WindowsPathsTest, TreeNamesOutsideTheCodePage) {
    struct Tree {
        const char* caseName;
        std::string file;   // UTF-8
        std::string shown;  // as the error names it, below in/
    };
    const std::vector<Tree> trees = {
        {"best_fit_pair", "ł.txt", "?.txt"},
        {"fullwidth_folder", "ｓub/b.txt", "?ub"},
        {"fullwidth_dots", "．．/x.txt", "??"},
        {"fullwidth_device", "ＣＯＮ", "???"},
    };
    for (const Tree& tree : trees) {
        SCOPED_TRACE(tree.caseName);
        fs::remove_all(at("in"));
        write_file("in/L.txt", "LATIN-FILE!\n");
        write_unicode("in/" + tree.file, "POLISH-FILE\n");
        EXPECT_RUN(run({"x.big", "CREATE", "in"}),
                   create_opening("in") + "Error: '" + local("in/" + tree.shown) + NOT_IN_CODE_PAGE, 2);
        EXPECT_FALSE(exists("x.big"));
    }
}

// A name the code page holds is stored in its bytes there, and read back
// from the file that was listed.
TEST_F(WindowsPathsTest, TreeNamesInTheCodePageAreStoredAsItsBytes) {
    write_unicode("in/é.txt", "accented");
    write_file("in/e.txt", "plain!!!");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Adding[0] 0kb '" + local("in/e.txt") + "': Done\n" +
                   "Adding[1] 0kb '" + local("in/\xE9.txt") + "': Done\n" +
                   "Total file count: 2\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == big_archive({{"e.txt", "plain!!!"}, {"\xE9.txt", "accented"}}));
}

// Best fit would turn these into the names of other files.
TEST_F(WindowsPathsTest, ArgumentsOutsideTheCodePage) {
    write_file("out/a.txt", "keep");
    write_file("x.big", big_archive({{"a.txt", "replaced"}}));
    write_file("lodz.big", big_archive({{"a.txt", "replaced"}}));
    write_file("in/a.txt", "abc");
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "ｏｕｔ"}), argument_refused("???"), 2);
    EXPECT_RUN(run({"łódź.big", "CREATE", "in"}), argument_refused("?\xF3" "d?.big"), 2);
    EXPECT_RUN(run({"łódź.big", "LIST"}), argument_refused("?\xF3" "d?.big"), 2);
    EXPECT_EQ(read_file("out/a.txt"), "keep");
    EXPECT_EQ(files_below(""), (std::vector<std::string>{"in/a.txt", "lodz.big", "out/a.txt", "x.big"}));
}

// With UTF-8 as the ANSI code page (Windows 10's option for every program;
// here a manifest beside a copy of the tool asks for it, which Wine obeys)
// every name fits: arguments and names beyond code page 1252 are taken,
// and stored and written as their UTF-8 bytes. Windows refuses the flags
// of the other code pages for UTF-8; Wine takes them, so only the unit
// test of the choice of flags catches that.
TEST_F(WindowsPathsTest, Utf8AsTheCodePageTakesEveryName) {
    write_file("utf8/bigtool.exe.manifest",
               "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
               "<assembly manifestVersion=\"1.0\" xmlns=\"urn:schemas-microsoft-com:asm.v1\">\n"
               "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>\n"
               "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">"
               "UTF-8</activeCodePage>\n"
               "</windowsSettings></application>\n</assembly>\n");
    fs::copy_file(tool_path(), at("utf8/bigtool.exe"));
    RunOptions utf8;
    utf8.program = at("utf8/bigtool.exe").string();
    write_unicode("in/łódź.txt", "polish");
    const std::string name = "\xC5\x82\xC3\xB3" "d\xC5\xBA.txt";  // łódź.txt in UTF-8
    EXPECT_RUN(run({"łódź.big", "CREATE", "in"}, utf8),
               create_opening("in", "łódź.big") + "Adding[0] 0kb '" + local("in/" + name) +
                   "': Done\nTotal file count: 1\nCompleted successfully\n",
               0);
    const std::string bytes = big_archive({{name, "polish"}});
    std::ifstream archive(folder() / utf8_path("łódź.big"), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(archive), {}) == bytes);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "ｏｕｔ"}, utf8),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 9 + name.size() + 8) +
                   extract_opening("ｏｕｔ", 1) + extracting(0, 6, name, "ｏｕｔ/" + name) +
                   "OK\nCompleted successfully\n",
               0);
    std::ifstream written(folder() / utf8_path("ｏｕｔ/łódź.txt"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "polish");
    // Bytes that are no UTF-8 would be written as U+FFFD, a look-alike.
    const std::string latin = big_archive({{"caf\xE9.txt", "latin"}});
    write_file("latin.big", latin);
    EXPECT_RUN(run({"latin.big", "EXTRACT", "*", "latin"}, utf8),
               BANNER + info_block("latin.big", 1, latin.size(), latin.size() - 5) + extract_opening("latin", 1) +
                   "Error: Refusing to extract 'caf\xE9.txt': unsafe file name.\n",
               2);
}

// In code page 932 names are read by characters: the second bytes of
// 表 (95 5C) and － (81 7C) are those of '\' and '|'. Wine takes the code
// page from the locale; test-windows.sh runs this test under ja_JP.
TEST_F(WindowsPathsTest, DoubleByteNamesAreStoredAndExtractedWhole) {
    if (host_ansi_code_page() != 932) {
        // Where test-windows.sh runs it, a skip would hide a locale not taken.
        ASSERT_EQ(std::getenv("BIGTOOL_CODE_PAGE"), nullptr) << "code page " << host_ansi_code_page();
        GTEST_SKIP() << "needs code page 932 (under Wine: LC_ALL=ja_JP.UTF-8)";
    }
    const std::string minus = "\x81\x7C.txt", table = "\x83\x66\x81\x5B\x83\x5E\x95\x5C",
                      plan = "\x97\x5C\x92\xE8\x95\x5C";  // －.txt, データ表, 予定表
    write_unicode("in/－.txt", "minus");
    write_unicode("in/データ表", "table");
    write_unicode("in/予定表/c.txt", "plan");
    // Windows lists a folder in the order of its UTF-16 names: U+30C7, U+4E88, U+FF0D.
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Adding[0] 0kb '" + local("in/" + table) + "': Done\n" +
                   "Adding[1] 0kb '" + local("in/" + plan + "/c.txt") + "': Done\n" + "Adding[2] 0kb '" +
                   local("in/" + minus) + "': Done\n" + "Total file count: 3\nCompleted successfully\n",
               0);
    const std::string bytes =
        big_archive({{table, "table"}, {plan + "\\c.txt", "plan"}, {minus, "minus"}});
    EXPECT_TRUE(read_file("x.big") == bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("x.big", 3, bytes.size(), bytes.size() - 14) + extract_opening("out", 1) +
                   extracting(0, 5, table, "out/" + table) + "OK\n" +
                   extracting(1, 4, plan + "\\c.txt", "out/" + plan + "/c.txt") + "OK\n" +
                   extracting(2, 5, minus, "out/" + minus) + "OK\nCompleted successfully\n",
               0);
    for (const auto& [name, data] :
         {std::pair{"－.txt", "minus"}, {"データ表", "table"}, {"予定表/c.txt", "plan"}}) {
        std::ifstream written(folder() / utf8_path(std::string("out/") + name), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), data) << name;
    }
    EXPECT_FALSE(fs::exists(folder() / utf8_path("out/データ")));  // 表 cut at its 5C
    // A climb stays one after a character ending in 5C.
    write_file("bad.big", big_archive({{"\x95\x5C\\..\\..\\x", "climb"}}));
    EXPECT_RUN(run({"bad.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("bad.big", 1, 48, 43) + extract_opening("out", 1) +
                   "Error: Refusing to extract '\x95\x5C\\..\\..\\x': unsafe file name.\n",
               2);
    // Patterns by character: a second byte is neither a letter nor a separator.
    write_file("jp.big", big_archive({{"\x89\x45.ini", "r"}, {"\x89\x65.ini", "k"}, {plan + "c.txt", "p"},
                                      {"\x83\x41.txt", "a"}}));
    const std::string rows[] = {"0\t1\t89\t\x89\x45.ini\n", "1\t1\t90\t\x89\x65.ini\n",
                                "2\t1\t91\t" + plan + "c.txt\n", "3\t1\t92\t\x83\x41.txt\n"};
    EXPECT_RUN(run({"jp.big", "FIND", "右.ini"}), rows[0], 0);
    EXPECT_RUN(run({"jp.big", "FIND", "影.INI", "?.txt"}), rows[1] + rows[3], 0);
    EXPECT_RUN(run({"jp.big", "FIND", "*表c.txt", "*I"}), rows[0] + rows[1] + rows[2], 0);
    EXPECT_RUN_ERR(run({"jp.big", "FIND", "*\\c.txt", "*a.txt"}), "",
                   "Error: No entry matches '*\\c.txt'.\nError: No entry matches '*a.txt'.\n", 2);
    // The game folds 影's 65 as a letter: to it the two are one name.
    EXPECT_RUN(run({"jp.big", "CHECK"}),
               BANNER + info_block("jp.big", 4, 93, 89) + "Checking all files...\n\nWarning: Entry 1 '\x89\x65.ini': "
               "entry 0 '\x89\x45.ini' is another name, but the game, which folds letters byte by byte, reads both "
               "as one.\nCompleted successfully\n",
               0);
    // 85 40 is no character of 932: it would be written as a look-alike (・).
    const std::string odd = "\x85\x40.txt";
    write_file("odd.big", big_archive({{odd, "odd"}}));
    const std::string odd_head = BANNER + info_block("odd.big", 1, 42, 39);
    const std::string refused = "Error: Refusing to extract '" + odd + "': unsafe file name.\n";
    EXPECT_RUN(run({"odd.big", "EXTRACT", "*", "odd"}), odd_head + extract_opening("odd", 1) + refused, 2);
    EXPECT_RUN(run({"odd.big", "GET", "*", "got"}), odd_head + refused, 2);
    EXPECT_FALSE(exists("got"));
    EXPECT_RUN(run({"odd.big", "CHECK"}),
               odd_head + "Checking all files...\n\nError: Entry 0 '" + odd +
                   "': its name is unsafe to extract.\nError: 1 problem(s) found.\n",
               2);
}

// "C:" alone is the drive's current directory, not its root.
TEST_F(WindowsPathsTest, BareDriveIsItsCurrentDirectory) {
    const std::string name = folder().filename().string() + ".txt";  // nowhere else on the drive
    const std::vector<FixtureEntry> entries = {{name, "here"}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", drive()}),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 9 + name.size() + 8) +
                   extract_opening(drive(), 1) +
                   extracting(0, 4, name, name) + "OK\nCompleted successfully\n",
               0);
    EXPECT_EQ(read_file(name), "here");
    EXPECT_FALSE(fs::exists(drive() + "\\" + name));

    write_file("in/a.txt", "abc");
    EXPECT_RUN(run_in("in", {"..\\new.big", "CREATE", drive()}),
               create_opening("in", "..\\new.big") + "Adding[0] 0kb '" + local("in/a.txt") +
                   "': Done\nTotal file count: 1\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("new.big") == big_archive({{"a.txt", "abc"}}));
}

// A folder at the drive's root, removed whatever the test's outcome.
class RootFolder {
public:
    explicit RootFolder(std::string path) : path_(std::move(path)) {}
    ~RootFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    RootFolder(const RootFolder&) = delete;
    RootFolder& operator=(const RootFolder&) = delete;

private:
    std::string path_;
};

// "\x" is the root of the current drive: the folder is made there, and the
// files go there too.
TEST_F(WindowsPathsTest, RootedOutputDirectory) {
    const std::string root = "\\bt-rooted-" + folder().filename().string();
    RootFolder cleanup(drive() + root);
    const std::string bytes = big_archive({{"a.txt", "abc"}});
    write_file("x.big", bytes);
    const std::string outdir = root + "\\out";
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", outdir}),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 14 + 8) + extract_opening(outdir, 1) + "Extracting[0] 3 bytes from 'a.txt' to '" + drive() +
                   outdir + "\\a.txt': OK\nCompleted successfully\n",
               0);
    std::ifstream in(drive() + outdir + "\\a.txt", std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, "abc");
    EXPECT_EQ(files_below(""), std::vector<std::string>{"x.big"});
}

// Refused before anything is made: device paths, and folders Windows
// would make under another name ("out " as "out") or cannot make. A batch
// file's "%~dp0out\" reaches the tool as ...\out" (a backslash escapes the
// closing quote).
TEST_F(WindowsPathsTest, FoldersWindowsWouldNotTakeAreRefused) {
    const std::string bytes = big_archive({{"a.txt", "abc"}});
    write_file("x.big", bytes);
    write_file("in/a.txt", "abc");
    const std::string device = "' is a device path (\\\\?\\ or \\\\.\\), which is not taken as a directory.\n";
    const std::string unusable = "Error: The folder '";
    const std::string dropped = "' ends in a dot or a blank, which Windows drops.\n";
    const std::string quoted = local("out") + "\"";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\\\\?\\" + local("out"), "Error: '\\\\?\\" + local("out") + device},
        {"\\\\.\\" + local("out"), "Error: '\\\\.\\" + local("out") + device},
        {"out ", unusable + "out ' cannot be used: its part 'out " + dropped},
        {"x..", unusable + "x..' cannot be used: its part 'x.." + dropped},
        {"y. \\z", unusable + "y. \\z' cannot be used: its part 'y. " + dropped},
        {quoted, unusable + quoted +
                     "' cannot be used: it ends in a quote. On a command line a backslash before a closing "
                     "quote escapes it: type \"out\" or \"out\\\\\", not \"out\\\".\n"},
        {"a|b\\c", unusable + "a|b\\c' cannot be used: it holds '|', which no Windows name may hold.\n"},
    };
    for (const auto& [typed, refusal] : rows) {
        SCOPED_TRACE(typed);
        EXPECT_RUN(run({"x.big", "EXTRACT", "*", typed}),
                   BANNER + info_block("x.big", 1, bytes.size(), 16 + 14 + 8) + extract_opening(typed, 1) +
                       refusal,
                   2);
        EXPECT_RUN(run({"new.big", "CREATE", typed}), BANNER + refusal, 2);
    }
    EXPECT_EQ(files_below(""), (std::vector<std::string>{"in/a.txt", "x.big"}));
}

// Names Windows would write under another name, or open as a device; the
// ordinary entry before each is extracted, and nothing is made for the bad one.
class WindowsRewrittenName : public WindowsPathsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WindowsRewrittenName, IsRefused) {
    const std::string name = GetParam();
    const std::vector<FixtureEntry> entries = {{"ok.txt", "fine"}, {name, "bad"}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("x.big", 2, bytes.size(), 16 + 15 + 9 + name.size() + 8) +
                   extract_opening("out", 1) +
                   extracting(0, 4, "ok.txt", "out/ok.txt") + "OK\n" + "Error: Refusing to extract '" + name +
                   "': unsafe file name.\n",
               2);
    EXPECT_EQ(files_below(""), (std::vector<std::string>{"out/ok.txt", "x.big"}));
    EXPECT_FALSE(exists("out/sub"));
}

INSTANTIATE_TEST_SUITE_P(Names, WindowsRewrittenName,
                         ::testing::Values("readme.", "readme ", "sub \\x", "sub\\CONOUT$", "CONIN$.txt",
                                           "sub\\CLOCK$", "a<b", "a>b", "a\"b", "a|b", "a?b", "sub\\*.txt"));

}  // namespace
