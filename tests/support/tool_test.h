// The fixture of the end-to-end tests: a fresh directory per test, files in
// it, and runs of the real tool inside it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_tool.h"

// What every run prints first.
inline const std::string BANNER =
    "bigtool: lists, extracts and creates BIG archives\n"
    "Tarvenor .BIG file container tool. Ver 1.0 BETA\n\n";

// The information block that follows a successful validation.
std::string info_block(const std::string& archive, int files, unsigned long size,
                       unsigned long start_offset);

// EXTRACT's lines between the information block and its first entry.
std::string extract_opening(const std::string& outdir, int index_arguments);

bool host_is_windows();

// Whether the tool was built with the test seam (BIGTOOL_FAULT_SEAM); the
// tests that need it skip where it was not (SKIP_WITHOUT_FAULT_SEAM below).
bool seam_built();

// The ways the tool copies data: the system's own copy and, in a build with
// the seam, read and write, as where the kernel cannot copy.
struct CopyWay {
    const char* name;
    RunOptions options;
};
std::vector<CopyWay> copy_ways();

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the tool in the test's directory, or in a folder below it.
    ToolRun run(const std::vector<std::string>& args, const RunOptions& options = {});
    ToolRun run_in(const std::string& relative, const std::vector<std::string>& args,
                   const RunOptions& options = {});

    // Paths below the test's directory, written with '/'.
    std::filesystem::path at(const std::string& relative) const;
    void write_file(const std::string& relative, const std::string& bytes) const;
    std::string read_file(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // Every regular file below `relative`, as relative paths with '/', sorted.
    std::vector<std::string> files_below(const std::string& relative) const;

    // A path as the tool prints it: the test directory as the tool's current
    // directory reads, the local separator, and `relative` with its '/'
    // turned into that separator. The one place expected paths are made.
    std::string local(const std::string& relative) const;

    // CREATE's lines up to its first file: the banner, the input directory
    // `input` (below the test's folder) as the tool prints it, the archive.
    std::string create_opening(const std::string& input, const std::string& archive = "x.big") const;

    // EXTRACT's progress line up to its outcome, the target given relative
    // to the test's folder.
    std::string extracting(int n, std::size_t size, const std::string& name,
                           const std::string& target) const;

    // The test's own folder, fresh for each test. A test that fails keeps
    // it, and says where, for a look at what the tool left.
    const std::filesystem::path& folder() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Tests that make the tool fail or pause on purpose need a tool built with
// the fault seam (BIGTOOL_FAULT_SEAM); without it they skip, saying so.
#define SKIP_WITHOUT_FAULT_SEAM()                                          \
    do {                                                                   \
        if (!seam_built()) {                                               \
            GTEST_SKIP() << "the tool was built without the fault seam";   \
        }                                                                  \
    } while (0)

// Expects a run to have printed exactly `out`, nothing on standard error,
// and ended with `status`.
#define EXPECT_RUN(run_result, expected_out, expected_status)   \
    do {                                                         \
        const ToolRun& run_ = (run_result);                      \
        EXPECT_EQ(run_.out, (expected_out));                     \
        EXPECT_EQ(run_.err, "");                                 \
        EXPECT_EQ(run_.status, (expected_status));               \
    } while (0)

// The same, for the runs whose standard output could not be written, which
// say so on standard error.
#define EXPECT_RUN_ERR(run_result, expected_out, expected_err, expected_status) \
    do {                                                                         \
        const ToolRun& run_ = (run_result);                                      \
        EXPECT_EQ(run_.out, (expected_out));                                     \
        EXPECT_EQ(run_.err, (expected_err));                                     \
        EXPECT_EQ(run_.status, (expected_status));                               \
    } while (0)
