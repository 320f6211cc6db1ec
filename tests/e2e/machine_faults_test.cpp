// Faults a real machine meets: a full disk, a file-size limit, a run killed
// part way, a tree that changes under CREATE, a folder that cannot be
// written. Each checks the message, the status, and that nothing else was
// damaged. Cases that need what a host lacks skip with the reason.
#include <chrono>
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
                       "Output directory: " + outdir + "\nExtracting 1 file(s)...\n\n" +
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
                   BANNER + "Import directory: " + local("in") + "\n\nCreating '" + archive + "'\n" +
                       "Adding[0] 0kb '" + local("in/a.txt") + "': Done\n" + "Adding[1] 200kb '" +
                       local("in/big.bin") + "': Error: Could not write to BIG file.\n" +
                       "Error: Failed adding file!\n",
                   2);
        EXPECT_TRUE(tree_intact());
        expect_refused(archive);
    }

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
    options.file_size_limit = SMALL_DISK;
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

// Options that hold the run before the k-th operation of `kind` until the
// marker file is removed.
RunOptions paused_at(const std::string& choice, const fs::path& marker) {
    RunOptions options;
    options.env = {"BIGTOOL_PAUSE=" + choice, "BIGTOOL_PAUSE_FILE=" + marker.string()};
    return options;
}

bool wait_for(const fs::path& marker) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(marker)) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Lets a paused run go on. The run polls the marker by opening it, and on
// Windows a file cannot be removed while it is open: retry until it goes.
bool release(const fs::path& marker) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::error_code error;
    while (!fs::remove(marker, error) && fs::exists(marker, error)) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(MachineFaultsTest, KilledCreateLeavesAFileNoReaderTakes) {
    if (host_is_windows()) {
        GTEST_SKIP() << "the run is killed with a POSIX signal";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    write_tree();
    write_file("other.big", big_archive(ENTRIES));
    // The second write is the big file's: the small one is in the archive by then.
    RunOptions options = paused_at("write:2", at("paused"));
    options.kill_when_exists = at("paused").string();
    ToolRun killed = run({"x.big", "CREATE", "in"}, options);
    EXPECT_EQ(killed.status, 128 + 9);
    EXPECT_EQ(killed.err, "");
    EXPECT_TRUE(tree_intact());
    expect_refused("x.big");
    EXPECT_EQ(read_file("x.big").size(), 16u + 14 + 16 + 8 + ENTRIES[0].data.size());
    // And a new run does not replace what the killed one left.
    const std::string left = read_file("x.big");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               BANNER + "Import directory: " + local("in") + "\n\nCreating 'x.big'\nError: Could not open file.\n",
               2);
    EXPECT_TRUE(read_file("x.big") == left);
    EXPECT_TRUE(read_file("other.big") == big_archive(ENTRIES));
}

// The tree changes while CREATE waits before its data pass (the third
// directory listing: in and in/sub for the index pass, then in again).
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
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(changes[i].change);
        fs::remove_all(at("in"));
        fs::remove(at("x.big"));
        write_file("in/a.txt", "alpha-alpha");
        write_file("in/b.txt", "beta");
        write_file("in/sub/c.txt", "gamma");
        const fs::path marker = at("paused");
        ToolRun result;
        std::thread tool([&] { result = run({"x.big", "CREATE", "in"}, paused_at("dir:3", marker)); });
        bool paused = wait_for(marker);
        bool released = false;
        if (paused) {
            changes[i].apply(at("in"));
            released = release(marker);
        }
        tool.join();
        ASSERT_TRUE(paused) << "the run never reached its pause";
        EXPECT_TRUE(released) << "the pause's marker could not be removed";
        EXPECT_RUN(result,
                   BANNER + "Import directory: " + local("in") + "\n\nCreating 'x.big'\n" +
                       with_input(changes[i].after, local("in")),
                   2);
        expect_refused("x.big");
    }
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
                   "Output directory: ro/out\nExtracting 1 file(s)...\n\n" +
                   extracting(0, ENTRIES[0].data.size(), "a.txt", "ro/out/a.txt") +
                   "Error: Failed to create.\nPlease, remove the file if it exists.\n",
               2);
    EXPECT_RUN(run({"ro/x.big", "CREATE", "in"}),
               BANNER + "Import directory: " + local("in") + "\n\nCreating 'ro/x.big'\nError: Could not open file.\n",
               2);
    EXPECT_TRUE(fs::is_empty(at("ro")));
    EXPECT_TRUE(read_file("x.big") == archive);
    EXPECT_TRUE(tree_intact());
}

}  // namespace
