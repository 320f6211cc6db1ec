// Runs on a machine set up otherwise than usual: standard streams closed,
// output that cannot be written, a working directory too deep to name or
// already removed. The harness sets these up on POSIX hosts; on Windows the
// cases skip with the reason.
#include <filesystem>

#include "support/big_writer.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

const std::vector<FixtureEntry> TWO_ENTRIES = {{"a.txt", "abc"}, {"sub\\b.dat", ""}};
const std::string OUTPUT_LOST = "Error: Could not write to standard output.\n";

class EnvironmentTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (host_is_windows()) {
            GTEST_SKIP() << "the harness sets up descriptors and working directories on POSIX";
        }
    }

    void write_two_entry_tree() const {
        write_file("in/a.txt", "abc");
        write_file("in/sub/b.dat", "");
    }

    // CREATE's whole output for the two-entry tree of in/.
    std::string create_output(const std::string& archive) const {
        return create_opening("in", archive) + "Adding[0] 0kb '" + local("in/a.txt") + "': Done\n" + "Adding[1] 0kb '" +
               local("in/sub/b.dat") + "': Done\n" + "Total file count: 2\nCompleted successfully\n";
    }

    std::string extract_output(const std::string& archive, const std::string& outdir) const {
        return BANNER + info_block(archive, 2, 59, 0x38) + extract_opening(outdir, 1) +
               extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
               extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + "OK\n" + "Completed successfully\n";
    }
};

// With a standard descriptor closed, the next file opened would get its
// number, and the console's text would be written into it.
TEST_F(EnvironmentTest, ClosedStreamsNeverReceiveAFile) {
    std::vector<FixtureEntry> files;
    for (int i = 0; i < 300; ++i) {
        // Appended: GCC 12 misreads "f" + std::to_string(...) (-Wrestrict) in Release.
        std::string name = "f";
        name += std::to_string(1000 + i);
        files.push_back({name, "contents of " + name + "\n"});
        write_file("in/" + name, files.back().data);
    }
    const std::string archive = big_archive(files);
    const std::vector<std::vector<int>> closings = {{1}, {0}, {2}, {0, 1, 2}};
    for (const std::vector<int>& closed : closings) {
        SCOPED_TRACE("closed: " + std::to_string(closed.front()) + " of " + std::to_string(closed.size()));
        fs::remove(at("o.big"));
        fs::remove_all(at("out"));
        RunOptions options;
        options.closedStreams = closed;
        ToolRun created = run({"o.big", "CREATE", "in"}, options);
        EXPECT_EQ(created.status, 0);
        EXPECT_EQ(created.err, "");
        EXPECT_TRUE(read_file("o.big") == archive);
        ToolRun extracted = run({"o.big", "EXTRACT", "*", "out"}, options);
        EXPECT_EQ(extracted.status, 0);
        EXPECT_EQ(extracted.err, "");
        EXPECT_EQ(files_below("out").size(), files.size());
        EXPECT_EQ(read_file("out/f1299"), "contents of f1299\n");
        EXPECT_TRUE(read_file("o.big") == archive);
    }
}

// Output that is lost is a failed run, whatever the command did.
TEST_F(EnvironmentTest, OutputThatCannotBeWrittenFailsTheRun) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "this host has no /dev/full";
    }
    RunOptions full;
    full.outFile = "/dev/full";
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_two_entry_tree();
    struct Case {
        const char* what;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {"list", {"x.big", "LIST"}},
        {"extract", {"x.big", "EXTRACT", "*", "out"}},
        {"create", {"new.big", "CREATE", "in"}},
        {"usage", {}},
        {"missing_archive", {"none.big", "LIST"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_RUN_ERR(run(c.args, full), "", OUTPUT_LOST, 2);
    }
    // The work itself was done, but for the archive of a failed CREATE.
    EXPECT_EQ(read_file("out/a.txt"), "abc");
    EXPECT_FALSE(exists("new.big"));
}

// FIND's rows and GET's bytes are the run's result: where they would be
// lost, or break the archive they come from, the run fails before writing.
// Console text to a closed output stays as it was (LIST).
TEST_F(EnvironmentTest, DataOutputThatCannotTakeTheData) {
    const std::string archive = big_archive(TWO_ENTRIES);
    write_file("x.big", archive);
    fs::create_hard_link(at("x.big"), at("link.big"));
    const std::string head = BANNER + info_block("x.big", 2, 59, 0x38);
    const std::string into = "Error: Standard output is the archive 'x.big'; writing there would break it.\n";
    const std::string closed = "Error: Standard output is closed; the data would be lost.\n";
    const std::vector<std::string> find = {"x.big", "FIND"}, get = {"x.big", "GET", "a.txt", "-"};
    struct Case {
        std::vector<std::string> args;
        std::string outFile;  // none: closed
        std::string err;
        int status;
    };
    for (const Case& c : {Case{find, at("x.big").string(), into, 2}, Case{get, at("link.big").string(), head + into, 2},
                          Case{find, "", closed, 2}, Case{get, "", head + closed, 2},
                          Case{{"x.big", "LIST"}, "", "", 0}, Case{find, "/dev/null", "", 0}}) {
        SCOPED_TRACE(c.args[1] + " to '" + c.outFile + "'");
        RunOptions options;
        options.outFile = c.outFile;
        options.closedStreams = c.outFile.empty() ? std::vector<int>{1} : std::vector<int>{};
        EXPECT_RUN_ERR(run(c.args, options), "", c.err, c.status);
        EXPECT_TRUE(read_file("x.big") == archive);
    }
}

// `| head` that has its lines and goes: LIST and EXTRACT end as Unix tools
// do (SIGPIPE), CREATE fails as for any lost output and keeps no archive,
// so the same command succeeds once its output can be read.
TEST_F(EnvironmentTest, OutputReaderThatGoesAway) {
    RunOptions gone;
    gone.outputReaderGone = true;
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_two_entry_tree();
    const int killed_by_sigpipe = 128 + 13;
    EXPECT_RUN(run({"x.big", "LIST"}, gone), "", killed_by_sigpipe);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, gone), "", killed_by_sigpipe);
    EXPECT_RUN_ERR(run({"new.big", "CREATE", "in"}, gone), "", OUTPUT_LOST, 2);
    EXPECT_FALSE(exists("new.big"));
    EXPECT_RUN(run({"new.big", "CREATE", "in"}), create_output("new.big"), 0);
    EXPECT_TRUE(read_file("new.big") == big_archive(TWO_ENTRIES));
}

// An absolute output or input directory needs no current directory, which
// may be too deep for the path buffers or gone.
TEST_F(EnvironmentTest, AbsolutePathsNeedNoCurrentDirectory) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_two_entry_tree();
    const std::string deep =
        "deep/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c');
    fs::create_directories(at(deep));
    fs::create_directories(at("gone"));
    ASSERT_GT(local(deep).size(), 259u);
    struct Where {
        const char* what;
        std::string cwd;
        bool removed;
    };
    for (const Where& where : {Where{"too_deep", deep, false}, Where{"removed", "gone", true}}) {
        SCOPED_TRACE(where.what);
        fs::remove_all(at("out"));
        fs::remove(at("new.big"));
        fs::create_directories(at("gone"));
        RunOptions options;
        options.removeCwd = where.removed;
        EXPECT_RUN(run_in(where.cwd, {local("x.big"), "EXTRACT", "*", local("out")}, options),
                   extract_output(local("x.big"), local("out")), 0);
        EXPECT_EQ(read_file("out/a.txt"), "abc");
        fs::create_directories(at("gone"));
        EXPECT_RUN(run_in(where.cwd, {local("new.big"), "CREATE", local("in")}, options),
                   create_output(local("new.big")), 0);
        EXPECT_TRUE(read_file("new.big") == big_archive(TWO_ENTRIES));
    }
}

// A relative directory needs the current directory: when it was removed,
// that is what the run says, not that a path is too long.
TEST_F(EnvironmentTest, RelativePathsWithoutCurrentDirectory) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_two_entry_tree();
    fs::create_directories(at("gone"));
    RunOptions removed;
    removed.removeCwd = true;
    const std::string no_cwd = "Error: Could not get the current directory.\n";
    EXPECT_RUN(run_in("gone", {local("x.big"), "EXTRACT", "*", "out"}, removed),
               BANNER + info_block(local("x.big"), 2, 59, 0x38) + extract_opening("out", 1) + no_cwd, 2);
    fs::create_directories(at("gone"));
    EXPECT_RUN(run_in("gone", {local("new.big"), "CREATE", "in"}, removed), BANNER + no_cwd, 2);
    EXPECT_FALSE(exists("new.big"));
}

}  // namespace

namespace {

class ThreadSettingTest : public ToolTest {};

RunOptions with_threads(const char* value) {
    RunOptions options;
    options.env = {std::string("BIGTOOL_THREADS=") + value};
    return options;
}

// A setting that cannot be meant refuses the run before anything is read
// or made; the ones that can leave the output as it is.
TEST_F(ThreadSettingTest, OnlyOneToSixtyFourThreads) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    const std::string refused = BANNER + "Error: BIGTOOL_THREADS must be a whole number from 1 to 64.\n";
    // (An empty value is no variable at all on Windows: not here.)
    for (const char* value : {"0", "65", "x", "4x", "-1", "100", " 8"}) {
        SCOPED_TRACE(value);
        EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, with_threads(value)),
                   refused, 2);
        EXPECT_FALSE(fs::exists(at("out")));
    }
    for (const char* value : {"1", "8", "64"}) {
        SCOPED_TRACE(value);
        fs::remove_all(at("out"));
        EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, with_threads(value)),
                   BANNER + info_block("x.big", 2, 59, 0x38) + extract_opening("out", 1) +
                       extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                       extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + "OK\n" + "Completed successfully\n",
                   0);
        EXPECT_EQ(read_file("out/a.txt"), "abc");
    }
}

}  // namespace
