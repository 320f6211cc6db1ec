// The table of files a run has written: each file by volume and number.
#include <gtest/gtest.h>

#include "lib/extract/written_files.h"

namespace {

TEST(WrittenFiles, EachFileKeepsItsEntry) {
    WrittenFiles files;
    EXPECT_EQ(written_by(files, {1, 7}), std::nullopt);
    ASSERT_TRUE(remember_written(&files, {1, 7}, 0));
    ASSERT_TRUE(remember_written(&files, {2, 7}, 1));  // the same number on another volume
    EXPECT_EQ(written_by(files, {1, 7}), 0u);
    EXPECT_EQ(written_by(files, {2, 7}), 1u);
    EXPECT_EQ(written_by(files, {1, 8}), std::nullopt);
    EXPECT_EQ(written_by(files, {3, 7}), std::nullopt);
    ASSERT_TRUE(remember_written(&files, {1, 7}, 5));
    EXPECT_EQ(written_by(files, {1, 7}), 5u);
    EXPECT_EQ(files.count, 2u);
}

// Through several growths of the table, with numbers in runs as inodes
// come and scattered as file indexes may be; every file is found again,
// and the table stays at most three quarters full.
TEST(WrittenFiles, ManyFilesAllFound) {
    WrittenFiles files;
    const std::uint32_t count = 20000;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint64_t number = i % 2 == 0 ? 1000 + i : (std::uint64_t{i} << 40) | 0xFFFF;
        ASSERT_TRUE(remember_written(&files, {0xC0FFEE, number}, i));
    }
    EXPECT_EQ(files.count, count);
    EXPECT_LE(files.count * 4, files.capacity * 3);
    EXPECT_EQ(files.capacity, 32768u);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint64_t number = i % 2 == 0 ? 1000 + i : (std::uint64_t{i} << 40) | 0xFFFF;
        ASSERT_EQ(written_by(files, {0xC0FFEE, number}), i);
    }
    EXPECT_EQ(written_by(files, {0xC0FFEE, 999}), std::nullopt);
}

}  // namespace

namespace {

// Past the table's last size its files move into the sorted blocks, more
// than once here: every file is still found, and one among the sorted ones
// takes a new entry.
TEST(WrittenFiles, SortedFilesFoundAndReplaced) {
    WrittenFiles files;
    const std::uint32_t count = 450000;
    for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_TRUE(remember_written(&files, {i % 3, std::uint64_t{count - i} * 7}, i));
    }
    EXPECT_EQ(files.count, count);
    EXPECT_GT(files.sorted, 0u);
    for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(written_by(files, {i % 3, std::uint64_t{count - i} * 7}), i);
    }
    EXPECT_EQ(written_by(files, {0, 8}), std::nullopt);
    ASSERT_TRUE(remember_written(&files, {0, std::uint64_t{count} * 7}, 9));
    EXPECT_EQ(written_by(files, {0, std::uint64_t{count} * 7}), 9u);
    EXPECT_EQ(files.count, count);
}

}  // namespace
