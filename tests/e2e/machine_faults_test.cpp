// Faults a real machine meets: a full disk, a file-size limit, a run killed
// part way, a tree that changes under CREATE, a folder that cannot be
// written. Each checks the message, the status, and that nothing else was
// damaged. Cases that need what a host lacks skip with the reason.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "support/big_writer.h"
#include "support/host.h"
#include "support/test_data.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t SMALL_DISK = 64 * 1024;
const std::string BIG_DATA = patterned_bytes(200 * 1024, 11);
const std::vector<FixtureEntry> ENTRIES = {{"a.txt", "alpha-alpha"}, {"big.bin", BIG_DATA}};

const std::string NOT_AN_ARCHIVE = "Error: This is not a tarvenor BIG file.\n";

class MachineFaultsTest : public ToolTest {
protected:
    void write_tree() const {
        for (const FixtureEntry& file : ENTRIES) {
            write_file("in/" + file.name, file.data);
        }
    }

    bool tree_intact() const {
        return read_file("in/a.txt") == ENTRIES[0].data && read_file("in/big.bin") == BIG_DATA &&
               files_below("in").size() == 2;
    }


    // EXTRACT * of ENTRIES into `outdir`, where the big entry cannot be written.
    void expect_extract_stops_at_big_entry(const RunOptions& options, const std::string& outdir) {
        const std::string archive = big_archive(ENTRIES);
        write_file("x.big", archive);
        EXPECT_RUN(run({"x.big", "EXTRACT", "*", outdir}, options),
                   BANNER + info_block("x.big", 2, archive.size(), 16 + 14 + 16 + 8) +
                       extract_opening(outdir, 1) +
                       extracting(0, ENTRIES[0].data.size(), "a.txt", outdir + "/a.txt") + "OK\n" +
                       extracting(1, BIG_DATA.size(), "big.bin", outdir + "/big.bin") +
                       "Error: Could not write to file.\n",
                   2);
        EXPECT_TRUE(read_file("x.big") == archive);
        EXPECT_EQ(read_file(outdir + "/a.txt"), ENTRIES[0].data);
        // The failing target stays as far as it was written, and no further.
        std::string partial = read_file(outdir + "/big.bin");
        EXPECT_LT(partial.size(), BIG_DATA.size());
        EXPECT_TRUE(BIG_DATA.compare(0, partial.size(), partial) == 0);
    }

    // CREATE of the tree into `archive`, where the big file's data cannot be written.
    void expect_create_stops_at_big_file(const RunOptions& options, const std::string& archive) {
        write_tree();
        EXPECT_RUN(run({archive, "CREATE", "in"}, options),
                   create_opening("in", archive) +
                       "Adding[0] 0kb '" + local("in/a.txt") + "': Done\n" + "Adding[1] 200kb '" +
                       local("in/big.bin") + "': Error: Could not write to BIG file.\n" +
                       "Error: Failed adding file!\n",
                   2);
        EXPECT_TRUE(tree_intact());
        // The run made the archive, and removes it again.
        EXPECT_FALSE(exists(archive));
    }

    // CREATE of in/ into x.big, held before the operation `choice` while
    // `while_held` runs; `env` adds to the run's environment.
    ToolRun create_held(const std::string& choice, const std::function<void()>& while_held,
                        const std::vector<std::string>& env = {});

    // CREATE of a three-file tree, `change` made while the run waits before
    // its data pass (the third directory listing: in and in/sub for the
    // index pass, then in again).
    ToolRun create_changed_between_passes(const std::function<void()>& change);

    // A partly written archive: its header was never written, so no reader takes it.
    void expect_refused(const std::string& archive) {
        ASSERT_TRUE(exists(archive));
        EXPECT_EQ(read_file(archive).substr(0, 16), std::string(16, '\0'));
        EXPECT_RUN(run({archive, "LIST"}), BANNER + "Validating '" + archive + "': " + NOT_AN_ARCHIVE, 2);
    }
};

TEST_F(MachineFaultsTest, DiskFillsUpDuringExtract) {
    fs::create_directory(at("disk"));
    TmpfsMount disk(at("disk").string(), SMALL_DISK, false);
    if (!disk.failure().empty()) {
        GTEST_SKIP() << disk.failure();
    }
    write_file("disk/keep.txt", "kept");
    expect_extract_stops_at_big_entry({}, "disk/out");
    EXPECT_EQ(read_file("disk/keep.txt"), "kept");
}

TEST_F(MachineFaultsTest, DiskFillsUpDuringCreate) {
    fs::create_directory(at("disk"));
    TmpfsMount disk(at("disk").string(), SMALL_DISK, false);
    if (!disk.failure().empty()) {
        GTEST_SKIP() << disk.failure();
    }
    write_file("disk/keep.txt", "kept");
    expect_create_stops_at_big_file({}, "disk/x.big");
    EXPECT_EQ(read_file("disk/keep.txt"), "kept");
}

RunOptions file_size_limited() {
    RunOptions options;
    options.fileSizeLimit = SMALL_DISK;
    return options;
}

TEST_F(MachineFaultsTest, FileSizeLimitDuringExtract) {
    if (host_is_windows()) {
        GTEST_SKIP() << "RLIMIT_FSIZE is a POSIX limit";
    }
    expect_extract_stops_at_big_entry(file_size_limited(), "out");
}

TEST_F(MachineFaultsTest, FileSizeLimitDuringCreate) {
    if (host_is_windows()) {
        GTEST_SKIP() << "RLIMIT_FSIZE is a POSIX limit";
    }
    expect_create_stops_at_big_file(file_size_limited(), "x.big");
}

// Small files only, whose bytes workers write when there are threads: the
// failure shows where a run without them writes what it gathered, here
// after the last file.
TEST_F(MachineFaultsTest, FileSizeLimitDuringCreateOfSmallFiles) {
    if (host_is_windows()) {
        GTEST_SKIP() << "RLIMIT_FSIZE is a POSIX limit";
    }
    std::string expected = create_opening("in");
    for (int n = 0; n < 40; ++n) {
        const std::string name = "in/f" + std::to_string(10 + n);
        write_file(name, patterned_bytes(3000, n));
        expected += "Adding[" + std::to_string(n) + "] 2kb '" + local(name) + "': Done\n";
    }
    EXPECT_RUN(run({"x.big", "CREATE", "in"}, file_size_limited()), expected + "Error: Could not write to BIG file.\n", 2);
    EXPECT_FALSE(exists("x.big"));
}

// Options that hold the run before the operation `choice` ("KIND:K") at `gate`.
RunOptions held_at(const std::string& choice, const PauseGate& gate) {
    RunOptions options;
    options.env = {"BIGTOOL_PAUSE=" + choice, "BIGTOOL_PAUSE_GATE=" + gate.name()};
    return options;
}

ToolRun MachineFaultsTest::create_held(const std::string& choice, const std::function<void()>& while_held,
                                       const std::vector<std::string>& env) {
    PauseGate gate(at("pause").string());
    std::atomic<bool> ended{false};
    ToolRun result;
    std::thread tool([&] {
        RunOptions options = held_at(choice, gate);
        options.env.insert(options.env.end(), env.begin(), env.end());
        result = run({"x.big", "CREATE", "in"}, options);
        ended = true;
    });
    bool held = gate.wait_for_run(ended);
    if (held) {
        while_held();
        gate.release();
    }
    tool.join();
    EXPECT_TRUE(held) << "the run never reached its pause";
    return result;
}

ToolRun MachineFaultsTest::create_changed_between_passes(const std::function<void()>& change) {
    write_file("in/a.txt", "alpha-alpha");
    write_file("in/b.txt", "beta");
    write_file("in/sub/c.txt", "gamma");
    return create_held("dir:3", change);
}

TEST_F(MachineFaultsTest, KilledCreateLeavesAFileNoReaderTakes) {
    if (host_is_windows()) {
        GTEST_SKIP() << "the run is killed with a POSIX signal";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    write_tree();
    write_file("other.big", big_archive(ENTRIES));
    // The second write is the big file's: the small one is in the archive by then.
    PauseGate gate(at("pause").string());
    RunOptions options = held_at("write:2", gate);
    options.killAtGate = gate.name();
    ToolRun killed = run({"x.big", "CREATE", "in"}, options);
    EXPECT_EQ(killed.status, 128 + 9);
    EXPECT_EQ(killed.err, "");
    EXPECT_TRUE(tree_intact());
    expect_refused("x.big");
    EXPECT_EQ(read_file("x.big").size(), 16u + 14 + 16 + 8 + ENTRIES[0].data.size());
    // And a new run does not replace what the killed one left.
    const std::string left = read_file("x.big");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in", "x.big") + "Error: Could not open file.\n",
               2);
    EXPECT_TRUE(read_file("x.big") == left);
    EXPECT_TRUE(read_file("other.big") == big_archive(ENTRIES));
}

// The tree changes while CREATE waits before its data pass.
struct TreeChange {
    const char* change;
    std::function<void(const fs::path& in)> apply;
    std::string after;  // what the run prints after "Creating 'x.big'\n", with {in} for the input path
};

std::string with_input(std::string text, const std::string& in) {
    for (std::size_t at = text.find("{in}"); at != std::string::npos; at = text.find("{in}", at)) {
        text.replace(at, 4, in);
        at += in.size();
    }
    return text;
}

TEST_F(MachineFaultsTest, TreeChangedBetweenThePasses) {
    SKIP_WITHOUT_FAULT_SEAM();
    const char sep = host_is_windows() ? '\\' : '/';
    const std::string s(1, sep);
    auto write = [](const fs::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    };
    const std::string changed = "Error: The input directory changed while the archive was made.\n";
    const std::string failed = "Error: Failed adding file!\n";
    const std::string a_done = "Adding[0] 0kb '{in}" + s + "a.txt': Done\n";
    const std::string b_done = "Adding[1] 0kb '{in}" + s + "b.txt': Done\n";
    const std::vector<TreeChange> changes = {
        {"file_added", [&](const fs::path& in) { write(in / "b2.txt", "new"); },
         a_done + b_done + changed + failed},
        {"file_removed", [](const fs::path& in) { fs::remove(in / "sub" / "c.txt"); },
         a_done + b_done + "Total file count: 2\n" + changed},
        {"file_renamed", [](const fs::path& in) { fs::rename(in / "b.txt", in / "b_renamed.txt"); },
         a_done + changed + failed},
        {"file_grown", [&](const fs::path& in) { write(in / "a.txt", "alpha-alpha!"); },
         "Adding[0] 0kb '{in}" + s + "a.txt': Error: The file grew while the archive was made.\n" + failed},
        {"file_shrunk", [&](const fs::path& in) { write(in / "a.txt", "alp"); },
         "Adding[0] 0kb '{in}" + s + "a.txt': Error: The file shrank while the archive was made.\n" + failed},
    };
    for (const TreeChange& change : changes) {
        SCOPED_TRACE(change.change);
        fs::remove_all(at("in"));
        fs::remove(at("x.big"));
        ToolRun result = create_changed_between_passes([&] { change.apply(at("in")); });
        EXPECT_RUN(result,
                   create_opening("in") +
                       with_input(change.after, local("in")),
                   2);
        EXPECT_FALSE(exists("x.big"));
    }
}

// A file that grows after it was opened, while its bytes are read. A small
// file is read whole with one byte more than its entry states; a larger
// one, copied through read and write, gives the byte beyond back for the
// look that finds the file grew; the system's copy leaves it for that look.
TEST_F(MachineFaultsTest, FileGrowingWhileItIsReadIsFound) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Windows holds the file without sharing: nothing can write to it meanwhile";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    struct Growth {
        const char* what;
        std::size_t size;
        std::vector<std::string> env;
        const char* pause;  // the file's first read: a copy step is one, a refused one too
    };
    const std::vector<Growth> cases = {
        {"small_file", 11, {}, "read:1"},
        {"system_copy", 100 * 1024, {}, "read:1"},
        {"read_and_write", 100 * 1024, {"BIGTOOL_NO_KERNEL_COPY=1"}, "read:2"},
    };
    for (const Growth& growth : cases) {
        SCOPED_TRACE(growth.what);
        fs::remove_all(at("in"));
        fs::remove(at("x.big"));
        write_file("in/a.txt", patterned_bytes(growth.size, 5));
        ToolRun result = create_held(
            growth.pause, [&] { std::ofstream(at("in/a.txt"), std::ios::binary | std::ios::app) << "!"; },
            growth.env);
        EXPECT_RUN(result,
                   create_opening("in") + "Adding[0] " +
                       std::to_string(growth.size / 1024) + "kb '" + local("in/a.txt") +
                       "': Error: The file grew while the archive was made.\n" +
                       "Error: Failed adding file!\n",
                   2);
        EXPECT_FALSE(exists("x.big"));
    }
}

// A failed run removes the archive it made, and only that: a file put in
// its place meanwhile stays, and so does the run's own under its new name.
TEST_F(MachineFaultsTest, FailedCreateRemovesOnlyItsOwnArchive) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Windows does not let a file held without sharing be renamed";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    ToolRun result = create_changed_between_passes([&] {
        fs::rename(at("x.big"), at("moved.big"));
        write_file("x.big", "someone else's");
        fs::remove(at("in/sub/c.txt"));
    });
    EXPECT_RUN(result,
               create_opening("in") +
                   "Adding[0] 0kb '" + local("in/a.txt") + "': Done\n" + "Adding[1] 0kb '" +
                   local("in/b.txt") + "': Done\n" + "Total file count: 2\n" +
                   "Error: The input directory changed while the archive was made.\n",
               2);
    EXPECT_EQ(read_file("x.big"), "someone else's");
    EXPECT_TRUE(exists("moved.big"));
}

// A file put at the archive's path while the failed run removes its archive
// is not removed in its place, and nothing else is left behind.
TEST_F(MachineFaultsTest, FileArrivingWhileTheArchiveIsRemovedStays) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Windows removes the archive by its handle, and its name stays taken until then";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    write_file("in/a.txt", "alpha-alpha");
    ToolRun result = create_held("remove:1", [&] {
        EXPECT_FALSE(exists("x.big"));
        write_file("x.big", "someone else's");
    }, {"BIGTOOL_FAULT=dir:2"});
    EXPECT_RUN(result, create_opening("in") + "Error: Could not list directory '" + local("in") + "'.\n", 2);
    EXPECT_EQ(read_file("x.big"), "someone else's");
    EXPECT_EQ(files_below(""), (std::vector<std::string>{"in/a.txt", "x.big"}));
}

// Once the cause is gone, the same command succeeds: no leftover archive
// is in its way.
TEST_F(MachineFaultsTest, CreateSucceedsAgainOnceTheCauseIsGone) {
    if (host_is_windows()) {
        GTEST_SKIP() << "RLIMIT_FSIZE is a POSIX limit";
    }
    expect_create_stops_at_big_file(file_size_limited(), "x.big");
    EXPECT_EQ(run({"x.big", "CREATE", "in"}).status, 0);
    EXPECT_TRUE(read_file("x.big") == big_archive(ENTRIES));
}

// Writing below a folder that refuses it: a read-only folder when not
// root, and a read-only mount when root (root writes read-only folders).
TEST_F(MachineFaultsTest, OutputFolderCannotBeWritten) {
    if (host_is_windows()) {
        GTEST_SKIP() << "a read-only folder on Windows still takes new files";
    }
    fs::create_directory(at("ro"));
    std::unique_ptr<TmpfsMount> mount;
    if (host_is_root()) {
        mount = std::make_unique<TmpfsMount>(at("ro").string(), SMALL_DISK, true);
        if (!mount->failure().empty()) {
            GTEST_SKIP() << "root needs a read-only mount, and " << mount->failure();
        }
    } else {
        fs::permissions(at("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    }
    const std::string archive = big_archive(ENTRIES);
    write_file("x.big", archive);
    write_tree();
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "ro/out"}),
               BANNER + info_block("x.big", 2, archive.size(), 16 + 14 + 16 + 8) +
                   extract_opening("ro/out", 1) +
                   extracting(0, ENTRIES[0].data.size(), "a.txt", "ro/out/a.txt") +
                   "Error: Failed to create.\nPlease, remove the file if it exists.\n",
               2);
    EXPECT_RUN(run({"ro/x.big", "CREATE", "in"}),
               create_opening("in", "ro/x.big") + "Error: Could not open file.\n",
               2);
    EXPECT_TRUE(fs::is_empty(at("ro")));
    EXPECT_TRUE(read_file("x.big") == archive);
    EXPECT_TRUE(tree_intact());
}

}  // namespace
