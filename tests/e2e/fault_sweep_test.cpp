// Every platform operation of a whole CREATE and a whole EXTRACT *, failed
// one at a time through the fault seam: each run either ends exactly as the
// normal run does or reports an error with status 2, and never succeeds
// with wrong bytes. Skipped in a build without the fault seam.
#include <filesystem>

#include "support/big_writer.h"
#include "support/test_data.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

// A few files, one empty, one nested two levels down; in listing order.
const std::vector<FixtureEntry> TREE = {
    {"a.txt", "alpha"},
    {"empty", ""},
    {"sub\\deep\\c.bin", patterned_bytes(3000, 7)},
};

// No operation count of these runs comes near it; a sweep that gets here
// has stopped noticing where it is.
constexpr int SWEEP_LIMIT = 500;

// Each sweep runs with the system's own copy, and with copies forced
// through read and write, as where the kernel cannot copy.
enum class CopyPath { system, read_write };

class FaultSweepTest : public ToolTest, public ::testing::WithParamInterface<CopyPath> {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        SKIP_WITHOUT_FAULT_SEAM();
        for (const FixtureEntry& file : TREE) {
            write_file("in/" + slashed(file.name), file.data);
        }
    }

    static std::string slashed(std::string name) {
        for (char& c : name) {
            c = c == '\\' ? '/' : c;
        }
        return name;
    }

    // The options of every run of the test: the copy path chosen.
    RunOptions copying() const {
        RunOptions options;
        if (GetParam() == CopyPath::read_write) {
            options.env.push_back("BIGTOOL_NO_KERNEL_COPY=1");
        }
        return options;
    }

    RunOptions failing(int k) const {
        RunOptions options = copying();
        options.env.push_back("BIGTOOL_FAULT=any:" + std::to_string(k));
        options.env.push_back("BIGTOOL_FAULT_FIRED=" + at("fired").string());
        return options;
    }

    bool tree_intact(const std::string& root) const {
        for (const FixtureEntry& file : TREE) {
            if (read_file(root + "/" + slashed(file.name)) != file.data) {
                return false;
            }
        }
        return files_below(root).size() == TREE.size();
    }

    // What a failed run printed must be the normal run's output up to its
    // first error, and hold that error.
    static void expect_failure_report(const ToolRun& failed, const std::string& normal) {
        std::size_t error = failed.out.find("Error: ");
        ASSERT_NE(error, std::string::npos) << failed.out;
        EXPECT_EQ(failed.out.substr(0, error), normal.substr(0, error)) << failed.out;
        EXPECT_EQ(failed.err, "");
        EXPECT_EQ(failed.status, 2) << failed.out;
    }

    std::string create_output() const {
        return create_opening("in") + "Adding[0] 0kb '" +
               local("in/a.txt") + "': Done\n" + "Adding[1] 0kb '" + local("in/empty") + "': Done\n" +
               "Adding[2] 2kb '" + local("in/sub/deep/c.bin") + "': Done\n" +
               "Total file count: 3\nCompleted successfully\n";
    }

    std::string extract_output() const {
        const std::string archive = big_archive(TREE);
        std::string out = BANNER + info_block("x.big", 3, archive.size(), 16 + 14 + 14 + 23 + 8) +
                          extract_opening("out", 1);
        for (std::size_t n = 0; n < TREE.size(); ++n) {
            out += extracting(static_cast<int>(n), TREE[n].data.size(), TREE[n].name,
                              "out/" + slashed(TREE[n].name)) +
                   "OK\n";
        }
        return out + "Completed successfully\n";
    }
};

TEST_P(FaultSweepTest, CreateFailsCleanlyAtEveryOperation) {
    const std::string normal = create_output();
    const std::string archive = big_archive(TREE);
    EXPECT_RUN(run({"x.big", "CREATE", "in"}, copying()), normal, 0);
    ASSERT_TRUE(read_file("x.big") == archive);

    int k = 1;
    for (; k <= SWEEP_LIMIT; ++k) {
        SCOPED_TRACE("failing operation " + std::to_string(k));
        fs::remove(at("x.big"));
        fs::remove(at("fired"));
        ToolRun result = run({"x.big", "CREATE", "in"}, failing(k));
        EXPECT_TRUE(tree_intact("in"));
        if (!exists("fired")) {
            // Past the last operation: the run is the normal one.
            EXPECT_RUN(result, normal, 0);
            EXPECT_TRUE(read_file("x.big") == archive);
            break;
        }
        if (result.status == 0) {
            EXPECT_RUN(result, normal, 0);
            EXPECT_TRUE(read_file("x.big") == archive);
            continue;
        }
        expect_failure_report(result, normal);
        // A failed run removes the archive it made.
        EXPECT_FALSE(exists("x.big"));
    }
    EXPECT_LT(k, SWEEP_LIMIT);
    EXPECT_GT(k, 10);  // the sweep did reach the data pass
}

TEST_P(FaultSweepTest, ExtractFailsCleanlyAtEveryOperation) {
    const std::string archive = big_archive(TREE);
    write_file("x.big", archive);
    const std::string normal = extract_output();
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, copying()), normal, 0);
    ASSERT_TRUE(tree_intact("out"));

    int k = 1;
    for (; k <= SWEEP_LIMIT; ++k) {
        SCOPED_TRACE("failing operation " + std::to_string(k));
        fs::remove_all(at("out"));
        fs::remove(at("fired"));
        ToolRun result = run({"x.big", "EXTRACT", "*", "out"}, failing(k));
        EXPECT_TRUE(read_file("x.big") == archive);
        if (!exists("fired")) {
            EXPECT_RUN(result, normal, 0);
            EXPECT_TRUE(tree_intact("out"));
            break;
        }
        if (result.status == 0) {
            EXPECT_RUN(result, normal, 0);
            EXPECT_TRUE(tree_intact("out"));
            continue;
        }
        expect_failure_report(result, normal);
    }
    EXPECT_LT(k, SWEEP_LIMIT);
    EXPECT_GT(k, 10);
}

// Twenty files in five folders: batches for more than one of eight threads.
std::vector<FixtureEntry> twenty_files() {
    std::vector<FixtureEntry> files;
    for (std::uint32_t i = 0; i < 20; ++i) {
        // Appended: GCC 12 misreads "d" + std::to_string(...) (-Wrestrict) in Release.
        std::string name = "d";
        name += std::to_string(i / 4);
        name += "\\f";
        name += std::to_string(i);
        files.push_back({name, patterned_bytes(100 + 700 * i, i)});
    }
    return files;
}

// With eight threads too every operation is failed in turn, the same one
// on every run: the lines are the normal run's up to the error, and on disk
// each entry before the failing one is whole, and of those after it only
// the 63 that may be in flight with it, each whole.
TEST_P(FaultSweepTest, ExtractWithEightThreadsFailsCleanlyAtEveryOperation) {
    const std::vector<FixtureEntry> files = twenty_files();
    write_file("x.big", big_archive(files));
    std::size_t index_size = 16 + 8;
    for (const FixtureEntry& file : files) {
        index_size += 9 + file.name.size();
    }
    std::string normal = BANNER + info_block("x.big", 20, read_file("x.big").size(), index_size) +
                         extract_opening("out", 1);
    for (std::size_t n = 0; n < files.size(); ++n) {
        normal += extracting(static_cast<int>(n), files[n].data.size(), files[n].name, "out/" + slashed(files[n].name)) +
                  "OK\n";
    }
    normal += "Completed successfully\n";
    RunOptions eight = copying();
    eight.env.push_back("BIGTOOL_THREADS=8");
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, eight), normal, 0);

    int k = 1;
    for (; k <= SWEEP_LIMIT; ++k) {
        SCOPED_TRACE("failing operation " + std::to_string(k));
        fs::remove_all(at("out"));
        fs::remove(at("fired"));
        RunOptions options = failing(k);
        options.env.push_back("BIGTOOL_THREADS=8");
        ToolRun result = run({"x.big", "EXTRACT", "*", "out"}, options);
        if (!exists("fired") || result.status == 0) {
            EXPECT_RUN(result, normal, 0);
            if (!exists("fired")) {
                break;
            }
            continue;
        }
        expect_failure_report(result, normal);
        std::size_t failed = 0;
        for (std::size_t at = 0; (at = result.out.find("OK\n", at)) != std::string::npos; ++at) {
            ++failed;
        }
        for (std::size_t n = 0; n < files.size(); ++n) {
            const std::string path = "out/" + slashed(files[n].name);
            if (n < failed || (n > failed && exists(path))) {
                EXPECT_TRUE(read_file(path) == files[n].data) << path;
                EXPECT_LE(n, failed + 63) << path;
            }
        }
    }
    EXPECT_LT(k, SWEEP_LIMIT);
    EXPECT_GT(k, 80);  // every entry's open, write and flush were reached
}

// Reads and writes that move one byte at a time must make no difference.
TEST_P(FaultSweepTest, OneByteReadsAndWritesGiveTheNormalResult) {
    RunOptions short_transfers = copying();
    short_transfers.env.push_back("BIGTOOL_SHORT_TRANSFERS=1");
    const std::string archive = big_archive(TREE);
    EXPECT_RUN(run({"x.big", "CREATE", "in"}, short_transfers), create_output(), 0);
    EXPECT_TRUE(read_file("x.big") == archive);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, short_transfers), extract_output(), 0);
    EXPECT_TRUE(tree_intact("out"));
}

INSTANTIATE_TEST_SUITE_P(Copies, FaultSweepTest,
                         ::testing::Values(CopyPath::system, CopyPath::read_write),
                         [](const ::testing::TestParamInfo<CopyPath>& info) {
                             return info.param == CopyPath::system ? "SystemCopy" : "ReadAndWrite";
                         });

}  // namespace
