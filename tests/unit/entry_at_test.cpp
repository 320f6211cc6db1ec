// Locating entries in an index, never past the bytes that were loaded.
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "lib/format/big_format.h"

namespace {

// dataOffset 0x01020304, dataSize 3, name "ab"; then dataOffset 0, dataSize 0, name "c".
const std::vector<std::uint8_t> INDEX = {1, 2, 3, 4, 0, 0, 0, 3, 'a', 'b', 0,
                                         0, 0, 0, 0, 0, 0, 0, 0, 'c', 0};

std::span<const std::uint8_t> first(std::size_t length) {
    return {INDEX.data(), length};
}

TEST(EntryAt, WalksAWholeIndex) {
    std::optional<BigEntry> entry = entry_at(INDEX, 0);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "ab");
    EXPECT_EQ(entry_data_offset(*entry), 0x01020304u);
    EXPECT_EQ(entry_data_size(*entry), 3u);
    EXPECT_EQ(entry_end(INDEX, *entry), 11u);
    entry = entry_at(INDEX, 11);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "c");
    EXPECT_EQ(entry_end(INDEX, *entry), INDEX.size());
    EXPECT_FALSE(entry_at(INDEX, INDEX.size()));
}

TEST(EntryAt, EveryTruncationIsMissing) {
    // The first entry needs all 11 bytes, its terminator included.
    for (std::size_t length = 0; length < 11; ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(entry_at(first(length), 0));
    }
    ASSERT_TRUE(entry_at(first(11), 0));
    for (std::size_t length = 11; length < INDEX.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(entry_at(first(length), 11));
    }
}

TEST(EntryAt, PositionsBeyondTheIndex) {
    EXPECT_FALSE(entry_at(INDEX, INDEX.size() + 1));
    EXPECT_FALSE(entry_at(INDEX, std::numeric_limits<std::size_t>::max()));
    EXPECT_FALSE(entry_at(INDEX, std::numeric_limits<std::size_t>::max() - 8));
    EXPECT_FALSE(entry_at({}, 0));
}

TEST(EntryAt, EmptyNameIsAnEntry) {
    const std::uint8_t bytes[] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::optional<BigEntry> entry = entry_at(bytes, 0);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "");
}

}  // namespace
