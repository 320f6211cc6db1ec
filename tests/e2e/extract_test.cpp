// EXTRACT: the choice of entries, the files written, and the names refused.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "support/big_writer.h"
#include "support/host.h"
#include "support/test_data.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

const std::vector<FixtureEntry> TWO_ENTRIES = {{"a.txt", "abc"}, {"sub\\b.dat", ""}};

// What every run on the two-entry archive prints before its entries.
std::string two_entry_head(const std::string& outdir, int index_arguments) {
    return BANNER + info_block("x.big", 2, 59, 0x38) + extract_opening(outdir, index_arguments);
}

// Everything below the test's folder, directories included, with '/'.
std::vector<std::string> tree_below(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        found.push_back(fs::relative(item.path(), root).generic_string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

class ExtractTest : public ToolTest {
protected:
    // Entries `first` and then `second`, whose names this system gives one
    // file below `outdir`: EXTRACT * and GET * write the first, and refuse
    // the second before its bytes are written, naming both.
    void expect_first_kept(const std::string& outdir, const std::string& first, const std::string& second) {
        SCOPED_TRACE(first + " then " + second);
        const std::string bytes = big_archive({{first, "first"}, {second, "second!"}});
        write_file("x.big", bytes);
        const std::string head =
            BANNER + info_block("x.big", 2, bytes.size(), 16 + 18 + first.size() + second.size() + 8);
        const std::string entries =
            extracting(0, 5, first, outdir + "/" + slashed(first)) + "OK\n" +
            extracting(1, 7, second, outdir + "/" + slashed(second)) + "Error: Entry 1 '" + second +
            "' names the file already extracted for entry 0 '" + first + "'; it keeps entry 0's data.\n";
        EXPECT_RUN(run({"x.big", "EXTRACT", "*", outdir}), head + extract_opening(outdir, 1) + entries, 2);
        EXPECT_EQ(read_file(outdir + "/" + slashed(first)), "first");
        EXPECT_EQ(files_below(outdir), std::vector<std::string>{slashed(first)});
        EXPECT_RUN(run({"x.big", "GET", "*", outdir}), head + extract_opening(outdir, 2) + entries, 2);
        EXPECT_EQ(read_file(outdir + "/" + slashed(first)), "first");
    }

    static std::string slashed(std::string name) {
        std::replace(name.begin(), name.end(), '\\', '/');
        return name;
    }
};

TEST_F(ExtractTest, WorkedExample) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "1", "0", "out"}),
               two_entry_head("out", 2) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(files_below("out"), (std::vector<std::string>{"a.txt", "sub/b.dat"}));
    EXPECT_EQ(read_file("out/a.txt"), "abc");
    EXPECT_TRUE(exists("out/sub/b.dat"));
    EXPECT_EQ(fs::file_size(at("out/sub/b.dat")), 0u);
}

// Index arguments are visited from the last to the first, so lookups go
// back as well as forward in the index.
// A game's worth of small files, in many folders, written by eight threads:
// every line in order, every file's bytes.
TEST_F(ExtractTest, TwentyThousandFilesWithEightThreads) {
    std::vector<FixtureEntry> files;
    for (std::uint32_t i = 0; i < 20000; ++i) {
        files.push_back({"data\\d" + std::to_string(i / 100) + "\\f" + std::to_string(i) + ".ini",
                         patterned_bytes(i % 97, i)});
    }
    write_file("x.big", big_archive(files));
    RunOptions eight;
    eight.env.push_back("BIGTOOL_THREADS=8");
    const ToolRun result = run({"x.big", "EXTRACT", "*", "out"}, eight);
    std::string lines;
    for (std::size_t n = 0; n < files.size(); ++n) {
        lines += extracting(static_cast<int>(n), files[n].data.size(), files[n].name, "out/" + slashed(files[n].name)) +
                 "OK\n";
    }
    std::size_t index_size = 16 + 8;
    for (const FixtureEntry& file : files) {
        index_size += 9 + file.name.size();
    }
    const std::string head = BANNER + info_block("x.big", 20000, read_file("x.big").size(), index_size);
    EXPECT_TRUE(result.out == head + extract_opening("out", 1) + lines + "Completed successfully\n")
        << result.out.substr(0, 2000);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(files_below("out").size(), files.size());
    for (const FixtureEntry& file : files) {
        ASSERT_TRUE(read_file("out/" + slashed(file.name)) == file.data) << file.name;
    }
}

TEST_F(ExtractTest, IndexesInAnyOrder) {
    const std::string bytes = big_archive({{"a", "0"}, {"b", "1"}, {"c", "2"}});
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "2", "1", "2", "out"}),
               BANNER + info_block("x.big", 3, bytes.size(), 16 + 30 + 8) +
                   extract_opening("out", 4) +
                   extracting(2, 1, "c", "out/c") + "OK\n" + extracting(1, 1, "b", "out/b") +
                   "OK\n" + extracting(2, 1, "c", "out/c") + "OK\n" +
                   extracting(0, 1, "a", "out/a") + "OK\n" + "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/a") + read_file("out/b") + read_file("out/c"), "012");
}

TEST_F(ExtractTest, StarAloneExtractsAllInOrder) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               two_entry_head("out", 1) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(files_below("out"), (std::vector<std::string>{"a.txt", "sub/b.dat"}));
}

TEST_F(ExtractTest, StarLastIgnoresTheOtherIndexes) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "5", "*", "out"}),
               two_entry_head("out", 2) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + "OK\n" +
                   "Completed successfully\n",
               0);
}

TEST_F(ExtractTest, StarFirstIsReadAsZero) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "5", "out"}),
               two_entry_head("out", 2) + "Skipping index number 5\n" +
                   extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" + "Completed successfully\n",
               0);
    EXPECT_EQ(files_below("out"), (std::vector<std::string>{"a.txt"}));
}

TEST_F(ExtractTest, OutOfRangeIndexesAreSkipped) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    // Visited from the last index argument back to the first.
    EXPECT_RUN(run({"x.big", "EXTRACT", "2", "-1", "99999999999", "-99999999999", "out"}),
               two_entry_head("out", 4) + "Skipping index number 2147483648\n" +
                   "Skipping index number 2147483647\n" + "Skipping index number 4294967295\n" +
                   "Skipping index number 2\n" + "Completed successfully\n",
               0);
    EXPECT_TRUE(fs::is_directory(at("out")));
    EXPECT_TRUE(files_below("out").empty());
}

TEST_F(ExtractTest, OnlyAnOutputDirectoryIsBadParameters) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "out"}),
               BANNER + info_block("x.big", 2, 59, 0x38) + "Error: Bad parameters.\n", 1);
    EXPECT_FALSE(exists("out"));
}

TEST_F(ExtractTest, NonNumberMeansEntryZero) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "abc", "out"}),
               two_entry_head("out", 1) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/a.txt"), "abc");
}

TEST_F(ExtractTest, SameIndexTwiceExtractsTwice) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "0", "out"}),
               two_entry_head("out", 2) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" + "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/a.txt"), "abc");
}

// No two entries are written into one file in a run, whatever makes their
// names one: here the names themselves, a duplicate, or the same path
// with a doubled separator.
TEST_F(ExtractTest, TwoEntriesNeverShareAFile) {
    expect_first_kept("twice", "a.txt", "a.txt");
    expect_first_kept("separators", "sub\\a.txt", "sub\\\\a.txt");
}

// Windows opens a file under its name in any case, and under its short
// name (Wine's for "program files.txt" is PROG~W2D.TXT).
TEST_F(ExtractTest, TwoEntriesNeverShareAFileOnWindows) {
    if (!host_is_windows()) {
        GTEST_SKIP() << "letter case and short names name one file on Windows";
    }
    expect_first_kept("case", "a.txt", "A.TXT");
    expect_first_kept("short", "program files.txt", "PROG~W2D.TXT");
}

// A case-insensitive file system does the same on Linux.
TEST_F(ExtractTest, TwoEntriesNeverShareAFileWithoutCase) {
    if (host_is_windows()) {
        GTEST_SKIP() << "a case-insensitive tmpfs is a POSIX case";
    }
    fs::create_directories(at("disk"));
    TmpfsMount disk(at("disk").string(), 1 << 20, false, true);
    if (!disk.failure().empty()) {
        GTEST_SKIP() << disk.failure();
    }
    fs::create_directories(at("disk/out"));
    if (std::string failure = host_fold_case(at("disk/out").string()); !failure.empty()) {
        GTEST_SKIP() << failure;
    }
    expect_first_kept("disk/out", "Sub\\a.txt", "SUB\\A.TXT");
}

TEST_F(ExtractTest, LongerExistingFileIsReplaced) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_file("out/a.txt", "a much longer text that was there before");
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               two_entry_head("out", 1) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/a.txt"), "abc");
}

TEST_F(ExtractTest, NestedDirectoriesAreCreated) {
    const std::string bytes = big_archive({{"a\\b\\c\\d.txt", "deep"}, {"a\\e.txt", "e"}});
    write_file("x.big", bytes);
    // In the local form: the tool keeps the separators of a typed path.
    const std::string outdir = host_is_windows() ? "made\\for\\this" : "made/for/this";
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", outdir}),
               BANNER + info_block("x.big", 2, bytes.size(), 16 + 20 + 16 + 8) +
                   extract_opening(outdir, 1) +
                   extracting(0, 4, "a\\b\\c\\d.txt", outdir + "/a/b/c/d.txt") + "OK\n" +
                   extracting(1, 1, "a\\e.txt", outdir + "/a/e.txt") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(read_file(outdir + "/a/b/c/d.txt"), "deep");
    EXPECT_EQ(read_file(outdir + "/a/e.txt"), "e");
}

// A doubled separator names a folder twice, once with a trailing separator;
// the entry still extracts on the first run.
TEST_F(ExtractTest, DoubledSeparatorInsideAName) {
    const std::string name = "a\\b\\\\c\\f.txt";
    const std::string bytes = big_archive({{name, "deep"}});
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 9 + name.size() + 8) +
                   extract_opening("out", 1) +
                   extracting(0, 4, name, "out/a/b//c/f.txt") + "OK\n" + "Completed successfully\n",
               0);
    EXPECT_EQ(files_below("out"), std::vector<std::string>{"a/b/c/f.txt"});
    EXPECT_EQ(read_file("out/a/b/c/f.txt"), "deep");
}

// Around the 5 MiB copy chunk: one chunk exactly, one byte past it, and
// several chunks with a short one at the end.
TEST_F(ExtractTest, LargeEntriesAreCopiedExactly) {
    const std::vector<FixtureEntry> entries = {{"chunk.bin", patterned_bytes(5242880, 1)},
                                               {"chunk1.bin", patterned_bytes(5242881, 2)},
                                               {"big.bin", patterned_bytes(12 * 1024 * 1024, 3)}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    const unsigned long start = 16 + 18 + 19 + 16 + 8;
    for (const CopyWay& way : copy_ways()) {
        SCOPED_TRACE(way.name);
        fs::remove_all(at("out"));
        EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, way.options),
                   BANNER + info_block("x.big", 3, bytes.size(), start) +
                       extract_opening("out", 1) +
                       extracting(0, 5242880, "chunk.bin", "out/chunk.bin") + "OK\n" +
                       extracting(1, 5242881, "chunk1.bin", "out/chunk1.bin") + "OK\n" +
                       extracting(2, 12582912, "big.bin", "out/big.bin") + "OK\n" +
                       "Completed successfully\n",
                   0);
        for (const FixtureEntry& entry : entries) {
            SCOPED_TRACE(entry.name);
            EXPECT_TRUE(read_file("out/" + entry.name) == entry.data);
        }
    }
}

// Offsets from 2 GiB up to the last byte of the 32-bit range, which a
// signed 32-bit seek would take for negative ones. The archive is sparse:
// only its index and its entries' bytes are on the disk.
TEST_F(ExtractTest, EntriesBeyondTwoGiB) {
    const std::uint32_t near = 0x80000000u;
    const std::uint32_t far = 0xFFFFFFF0u;
    const std::string near_data = "at two GiB";
    const std::string far_data = "last 15 bytes!!";  // ends at 4 GiB - 1
    const std::uint32_t total = far + static_cast<std::uint32_t>(far_data.size());
    const std::string index = big_header("BIGF", total, 2, 16 + 17 + 16 + 8) +
                              big_entry(near, static_cast<std::uint32_t>(near_data.size()), "near.bin") +
                              big_entry(far, static_cast<std::uint32_t>(far_data.size()), "far.bin") +
                              END_RECORD;
    {
        std::ofstream out(at("x.big"), std::ios::binary);
        out.write(index.data(), static_cast<std::streamsize>(index.size()));
        out.seekp(near);
        out.write(near_data.data(), static_cast<std::streamsize>(near_data.size()));
        out.seekp(far);
        out.write(far_data.data(), static_cast<std::streamsize>(far_data.size()));
        if (!out) {
            GTEST_SKIP() << "this file system cannot hold a sparse file of 4 GiB";
        }
    }
    ASSERT_EQ(fs::file_size(at("x.big")), total);
    const std::string head = BANNER + info_block("x.big", 2, total, 16 + 17 + 16 + 8);
    EXPECT_RUN(run({"x.big", "LIST"}),
               head + "Listing all files...\n\nIndex\t\tSize\tFileName\n" +
                   "0                10  near.bin\n1                15  far.bin\n" + "Completed successfully\n",
               0);
    for (const CopyWay& way : copy_ways()) {
        SCOPED_TRACE(way.name);
        fs::remove_all(at("out"));
        EXPECT_RUN(run({"x.big", "EXTRACT", "1", "0", "out"}, way.options),
                   head + extract_opening("out", 2) +
                       extracting(0, 10, "near.bin", "out/near.bin") + "OK\n" +
                       extracting(1, 15, "far.bin", "out/far.bin") + "OK\n" + "Completed successfully\n",
                   0);
        EXPECT_EQ(read_file("out/near.bin"), near_data);
        EXPECT_EQ(read_file("out/far.bin"), far_data);
    }
}

TEST_F(ExtractTest, EntryRunningPastTheEndFails) {
    // The entry claims 100 bytes; the archive holds 3 of them.
    std::string bytes = big_header("BIGF", 0, 1, 38) + big_entry(38, 100, "a.txt") + END_RECORD + "abc";
    patch_le32(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               BANNER + info_block("x.big", 1, 41, 38) +
                   extract_opening("out", 1) +
                   extracting(0, 100, "a.txt", "out/a.txt") +
                   "Error: Could not read from BIG file.\n",
               2);
    EXPECT_EQ(read_file("out/a.txt"), "abc");
}

TEST_F(ExtractTest, EntryStartingPastTheEndFails) {
    std::string bytes = big_header("BIGF", 0, 1, 38) + big_entry(1000, 5, "a.txt") + END_RECORD + "abc";
    patch_le32(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               BANNER + info_block("x.big", 1, 41, 38) +
                   extract_opening("out", 1) +
                   extracting(0, 5, "a.txt", "out/a.txt") + "Error: Could not read from BIG file.\n",
               2);
}

TEST_F(ExtractTest, TargetThatIsTheArchiveItselfIsRefused) {
    const std::string bytes = big_archive({{"x.big", "replacement"}});
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "."}),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 14 + 8) +
                   extract_opening(".", 1) +
                   extracting(0, 11, "x.big", "./x.big") +
                   "Error: Failed to create.\nPlease, remove the file if it exists.\n",
               2);
    EXPECT_TRUE(read_file("x.big") == bytes);
    // Under another name, a hard link, it is refused before that name is removed.
    fs::create_directories(at("out"));
    fs::create_hard_link(at("x.big"), at("out/x.big"));
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 14 + 8) + extract_opening("out", 1) +
                   extracting(0, 11, "x.big", "out/x.big") +
                   "Error: Failed to create.\nPlease, remove the file if it exists.\n",
               2);
    EXPECT_TRUE(read_file("out/x.big") == bytes);
}

TEST_F(ExtractTest, IndexShorterThanCountStopsAtTheMissingEntry) {
    std::string bytes = big_archive(TWO_ENTRIES);
    patch_be32(bytes, 8, 3);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("x.big", 3, 59, 0x38) +
                   extract_opening("out", 1) +
                   extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + "OK\n" +
                   "Error: Header file count mismatch.\n",
               2);
}

TEST_F(ExtractTest, AbsoluteOutputDirectory) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    const std::string outdir = local("out");
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", outdir}),
               two_entry_head(outdir, 1) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/a.txt"), "abc");
}

// The file in the way is named, as it is where a folder above the output
// directory, or an entry's folder below it, must go.
TEST_F(ExtractTest, OutputDirectoryThatIsAFile) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_file("plain", "kept");
    const std::string failed = "Error: Failed to create.\nPlease, remove the file if it exists.\n'";
    const std::string in_the_way = "' is in the way: a folder must go there.\n";
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "plain"}),
               two_entry_head("plain", 1) + extracting(0, 3, "a.txt", "plain/a.txt") + failed + local("plain") +
                   in_the_way,
               2);
    EXPECT_RUN(run({"x.big", "GET", "sub/*", local("plain/out")}),
               two_entry_head(local("plain/out"), 1) + extracting(1, 0, "sub\\b.dat", "plain/out/sub/b.dat") +
                   failed + local("plain") + in_the_way,
               2);
    write_file("out/sub", "kept");
    EXPECT_RUN(run({"x.big", "EXTRACT", "1", "out"}),
               two_entry_head("out", 1) + extracting(1, 0, "sub\\b.dat", "out/sub/b.dat") + failed +
                   local("out/sub") + in_the_way,
               2);
    EXPECT_EQ(read_file("plain") + read_file("out/sub"), "keptkept");
}

TEST_F(ExtractTest, TargetThatIsAFifoIsRefused) {
    if (host_is_windows()) {
        GTEST_SKIP() << "FIFOs are a POSIX case";
    }
    write_file("x.big", big_archive(TWO_ENTRIES));
    fs::create_directories(at("out"));
    if (std::system(("mkfifo '" + at("out/a.txt").string() + "'").c_str()) != 0) {
        GTEST_SKIP() << "mkfifo is not available";
    }
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               two_entry_head("out", 1) + extracting(0, 3, "a.txt", "out/a.txt") +
                   "Error: Failed to create.\nPlease, remove the file if it exists.\n",
               2);
    EXPECT_TRUE(fs::is_fifo(at("out/a.txt")));
}

// False where this system makes no such link (Wine makes no symbolic link).
bool made_link(const fs::path& to, const fs::path& link, bool hard = false) {
    std::error_code error;
    hard ? fs::create_hard_link(to, link, error) : fs::create_symlink(to, link, error);
    return !error && (hard || fs::is_symlink(fs::symlink_status(link)));
}

// A target that is not a file of its own is replaced by one, and whatever
// it led to outside the output directory stays as it was.
struct LinkedTarget {
    const char* what;
    const char* to;  // "outside" holds kept.txt
    bool hard;
};

void PrintTo(const LinkedTarget& row, std::ostream* out) { *out << row.what; }

class ExtractOverLink : public ExtractTest, public ::testing::WithParamInterface<LinkedTarget> {};

TEST_P(ExtractOverLink, MakesAFileOfItsOwn) {
    const LinkedTarget& row = GetParam();
    write_file("x.big", big_archive(TWO_ENTRIES));
    write_file("outside/kept.txt", "kept");
    fs::create_directories(at("out"));
    if (!made_link(at(row.to), at("out/a.txt"), row.hard)) {
        GTEST_SKIP() << "this system made no " << (row.hard ? "hard" : "symbolic") << " link here";
    }
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
               two_entry_head("out", 1) + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   "Completed successfully\n",
               0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at("out/a.txt"))));
    EXPECT_EQ(read_file("out/a.txt"), "abc");
    EXPECT_EQ(tree_below(at("outside")), std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(read_file("outside/kept.txt"), "kept");
}

INSTANTIATE_TEST_SUITE_P(Links, ExtractOverLink,
                         ::testing::Values(LinkedTarget{"symlink_to_file", "outside/kept.txt", false},
                                           LinkedTarget{"hard_link", "outside/kept.txt", true},
                                           LinkedTarget{"dangling_symlink", "outside/none.txt", false},
                                           LinkedTarget{"symlink_to_folder", "outside", false}),
                         [](const ::testing::TestParamInfo<LinkedTarget>& info) { return info.param.what; });

// A linked folder below the output directory is refused before anything is
// made for its entry; the output directory itself may be a link. The entry
// before it shares its first folder, which must not hide the link.
TEST_F(ExtractTest, LinkedFolderBelowTheOutputIsRefused) {
    const std::string bytes = big_archive({{"a\\ok.txt", "1"}, {"a\\link\\evil", "bad"}});
    write_file("x.big", bytes);
    fs::create_directories(at("real/a"));
    fs::create_directories(at("outside"));
    if (!made_link(at("real"), at("out")) || !made_link(at("outside"), at("real/a/link"))) {
        GTEST_SKIP() << "this system made no symbolic link here";
    }
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("x.big", 2, bytes.size(), 16 + 17 + 20 + 8) + extract_opening("out", 1) +
                   extracting(0, 1, "a\\ok.txt", "out/a/ok.txt") + "OK\n" +
                   "Error: Refusing to extract 'a\\link\\evil': '" + local("out/a/link") + "' is a link.\n",
               2);
    EXPECT_EQ(files_below("real"), std::vector<std::string>{"a/ok.txt"});
    EXPECT_TRUE(fs::is_empty(at("outside")));
}

// A target path that would not fit the path buffers is refused whole. A
// name longer than the buffers is quoted by its first 259 bytes, less a
// character they cut (in UTF-8 an e-acute at bytes 258 and 259; in code
// page 1252, Windows' under Wine, C3 is a character of its own), and "...",
// whether refused as too long or as unsafe.
TEST_F(ExtractTest, TargetPathTooLong) {
    const std::string n250 = "sub\\" + std::string(250, 'n');
    const std::pair<std::string, std::string> rows[] = {
        {n250, "Path too long to extract '" + n250 + "'"},
        {n250 + "nnnn\xC3\xA9" + std::string(40, 'n'),
         "Path too long to extract '" + n250 + (host_is_windows() ? "nnnn\xC3...'" : "nnnn...'")},
        {"..\\" + std::string(297, 'u'),
         "Refusing to extract '..\\" + std::string(256, 'u') + "...': unsafe file name"},
        // Longer than the reader's window: judged on the part it holds.
        {"sub\\..\\" + std::string(70000, 'u'),
         "Refusing to extract 'sub\\..\\" + std::string(252, 'u') + "...': unsafe file name"}};
    for (const auto& [name, message] : rows) {
        fs::remove_all(at("out"));
        const std::string bytes = big_archive({{name, "x"}});
        write_file("x.big", bytes);
        EXPECT_RUN(run({"x.big", "EXTRACT", "0", "out"}),
                   BANNER + info_block("x.big", 1, bytes.size(), 16 + 9 + name.size() + 8) +
                       extract_opening("out", 1) + "Error: " + message + ".\n",
                   2);
        EXPECT_EQ(tree_below(folder()), (std::vector<std::string>{"out", "x.big"}));
    }
}

// Names that would land outside the output directory, or on a device.
struct HostileName {
    const char* defect;
    std::string name;
    bool windowsOnly;
};

void PrintTo(const HostileName& row, std::ostream* out) {
    *out << row.defect;
}

class ExtractHostileName : public ExtractTest, public ::testing::WithParamInterface<HostileName> {};

TEST_P(ExtractHostileName, IsRefusedAndNothingIsWritten) {
    const HostileName& row = GetParam();
    if (row.windowsOnly && !host_is_windows()) {
        GTEST_SKIP() << "only Windows reads this name as unsafe";
    }
    const std::string bytes = big_archive({{row.name, "evil"}});
    write_file("x.big", bytes);
    // Two levels deep, so that every climb stays inside the test's folder
    // where it would show.
    fs::create_directories(at("deep/out"));
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", "deep/out"}),
               BANNER + info_block("x.big", 1, bytes.size(), 16 + 9 + row.name.size() + 8) +
                   extract_opening("deep/out", 1) +
                   "Error: Refusing to extract '" + row.name + "': unsafe file name.\n",
               2);
    EXPECT_EQ(tree_below(folder()), (std::vector<std::string>{"deep", "deep/out", "x.big"}));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtractHostileName,
    ::testing::Values(HostileName{"empty", "", false},
                      HostileName{"leading_backslash", "\\evil.txt", false},
                      HostileName{"leading_slash", "/evil.txt", false},
                      HostileName{"drive_relative", "C:evil.txt", false},
                      HostileName{"drive_backslash", "C:\\evil.txt", false},
                      HostileName{"drive_slash", "c:/evil.txt", false},
                      HostileName{"dotdot_start_backslash", "..\\evil.txt", false},
                      HostileName{"dotdot_start_slash", "../evil.txt", false},
                      HostileName{"dotdot_middle_backslash", "sub\\..\\..\\evil.txt", false},
                      HostileName{"dotdot_middle_slash", "sub/../../evil.txt", false},
                      HostileName{"dotdot_both_separators", "sub/..\\..\\evil.txt", false},
                      HostileName{"dotdot_end_backslash", "sub\\..", false},
                      HostileName{"dotdot_end_slash", "sub/..", false},
                      HostileName{"dotdot_alone", "..", false},
                      HostileName{"trailing_backslash", "trail\\", false},
                      HostileName{"trailing_slash", "sub/trail/", false},
                      HostileName{"colon_inside", "sub\\a:b.txt", true},
                      HostileName{"stream_name", "a.txt:evil", true},
                      HostileName{"device_con", "CON", true},
                      HostileName{"device_nul_with_extension", "sub\\nul.txt", true},
                      HostileName{"device_com1", "COM1", true},
                      HostileName{"dots_read_as_dotdot", "...\\evil.txt", true}),
    [](const ::testing::TestParamInfo<HostileName>& info) { return info.param.defect; });

// Dots that are part of a name, not a climb.
TEST_F(ExtractTest, NamesWithDotsExtractNormally) {
    const std::vector<FixtureEntry> entries = {
        {"..foo", "1"}, {"a..b\\c.txt", "3"}, {"...x", "4"}, {"sub\\.h", "5"}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}),
               BANNER + info_block("x.big", 4, bytes.size(), 16 + 14 + 19 + 13 + 15 + 8) +
                   extract_opening("out", 1) +
                   extracting(0, 1, "..foo", "out/..foo") + "OK\n" +
                   extracting(1, 1, "a..b\\c.txt", "out/a..b/c.txt") + "OK\n" +
                   extracting(2, 1, "...x", "out/...x") + "OK\n" +
                   extracting(3, 1, "sub\\.h", "out/sub/.h") + "OK\n" + "Completed successfully\n",
               0);
    EXPECT_EQ(read_file("out/..foo"), "1");
    EXPECT_EQ(read_file("out/a..b/c.txt"), "3");
    EXPECT_EQ(read_file("out/...x"), "4");
    EXPECT_EQ(read_file("out/sub/.h"), "5");
    EXPECT_EQ(tree_below(folder()).size(), 8u);  // x.big, out, a..b, sub and the four files
}

}  // namespace
