// Reading index entries through a window much smaller than the index:
// entries that straddle its end, names longer than it (read in pieces),
// names and indexes that end too early, and jumps back to entries already
// met. The window never grows.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/format/index_window.h"
#include "support/big_writer.h"

namespace fs = std::filesystem;

namespace {

struct Expected {
    std::uint32_t at;  // where the entry starts in the index
    std::uint32_t offset;
    std::uint32_t size;
    std::string name;
};

// Entries with names of the given lengths, and where each one starts.
std::vector<Expected> entries_named(const std::vector<std::size_t>& lengths) {
    std::vector<Expected> entries;
    std::uint32_t at = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        std::string name(lengths[i], static_cast<char>('a' + i % 26));
        auto n = static_cast<std::uint32_t>(i);
        entries.push_back({at, 1000 + n, 7 * n, name});
        at += static_cast<std::uint32_t>(9 + name.size());
    }
    return entries;
}

std::string index_of(const std::vector<Expected>& entries) {
    std::string index;
    for (const Expected& entry : entries) {
        index += big_entry(entry.offset, entry.size, entry.name);
    }
    return index;
}

class IndexWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("bt-window-" + std::to_string(random()));
    }

    void TearDown() override { close_all(); }

    void close_all() {
        window_close(window_);
        if (file_ != INVALID_FILE) {
            file_close(file_);
            file_ = INVALID_FILE;
        }
        std::error_code ignored;
        fs::remove(path_, ignored);
    }

    // Writes a 16-byte stand-in for the header, `index` and `after`, and
    // opens a window of `capacity` over the first `claimed` bytes of the index.
    void open(const std::string& index, std::uint32_t capacity, std::uint32_t claimed,
              const std::string& after = "") {
        std::ofstream out(path_, std::ios::binary);
        const std::string bytes = std::string(16, 'H') + index + after;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        file_ = file_open(path_.string().c_str(), OpenMode::read_existing);
        ASSERT_NE(file_, INVALID_FILE);
        ASSERT_EQ(window_open(window_, file_, 16, claimed, capacity), 1);
        ASSERT_EQ(window_preload(window_), 1);
    }

    void open(const std::string& index, std::uint32_t capacity) {
        open(index, capacity, static_cast<std::uint32_t>(index.size()));
    }

    // The entry, and its name read back in pieces from its start. A name
    // longer than the window is held as far as the window goes.
    void expect_entry(const Expected& expected) {
        SCOPED_TRACE("entry at " + std::to_string(expected.at));
        BigEntry entry{};
        ASSERT_EQ(window_entry(window_, expected.at, &entry), WindowStatus::found);
        EXPECT_EQ(entry.name, expected.name.substr(0, window_.size - 8));
        EXPECT_EQ(entry.nameLength, expected.name.size());
        EXPECT_EQ(entry_data_offset(entry), expected.offset);
        EXPECT_EQ(entry_data_size(entry), expected.size);
        std::string name;
        for (std::string_view piece; name.size() < entry.nameLength; name += piece) {
            const auto offset = static_cast<std::uint32_t>(name.size());
            ASSERT_TRUE(window_bytes(window_, expected.at + 8 + offset, entry.nameLength - offset,
                                     &piece) == WindowStatus::found && !piece.empty());
        }
        EXPECT_EQ(name, expected.name);
    }

    void expect_missing(std::uint32_t at) {
        BigEntry entry{};
        EXPECT_EQ(window_entry(window_, at, &entry), WindowStatus::missing) << "at " << at;
    }

    fs::path path_;
    FileHandle file_ = INVALID_FILE;
    IndexWindow window_;
};

TEST_F(IndexWindowTest, EntriesStraddlingTheWindowsEnd) {
    const std::vector<Expected> entries = entries_named({0, 1, 5, 2, 7, 0, 3, 6, 1, 4, 7, 2, 0, 5});
    const std::string index = index_of(entries);
    // From the smallest window on, each cuts the entries at other places.
    for (std::uint32_t capacity : {9u, 10u, 13u, 16u, 23u, 64u}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        close_all();
        open(index, capacity);
        for (const Expected& entry : entries) {
            expect_entry(entry);
        }
        expect_missing(static_cast<std::uint32_t>(index.size()));
        EXPECT_EQ(window_.size, capacity);
    }
}

TEST_F(IndexWindowTest, NameLongerThanTheWindowIsReadInPieces) {
    const std::vector<Expected> entries = entries_named({3, 100, 1, 40, 250, 2});
    open(index_of(entries), 16);
    for (const Expected& entry : entries) {
        expect_entry(entry);
    }
    EXPECT_EQ(window_.size, 16u);
    // Back to the long names after the window has moved past them.
    expect_entry(entries[1]);
    expect_entry(entries[4]);
    expect_entry(entries[0]);
}

// The name runs to the end of the index; a zero byte right after the index
// is not its terminator. The window must not grow for it.
TEST_F(IndexWindowTest, NameWithoutTerminatorAtTheEndOfTheIndex) {
    const std::vector<Expected> entries = entries_named({1, 2});
    const std::string index = index_of(entries) + big_entry(5, 5, std::string(300, 'x'), false);
    const std::uint32_t last = entries[1].at + 11;
    for (std::uint32_t capacity : {16u, 64u, 4096u}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        close_all();
        open(index, capacity, static_cast<std::uint32_t>(index.size()), std::string(1, '\0') + "tail");
        expect_entry(entries[0]);
        expect_entry(entries[1]);
        expect_missing(last);
        EXPECT_EQ(window_.size, capacity);
        expect_entry(entries[0]);
    }
}

// Every length of index that cuts the third entry: the entries before it
// are found whole, the cut one and any position past the end are missing.
TEST_F(IndexWindowTest, IndexEndingInsideAnEntry) {
    const std::vector<Expected> entries = entries_named({4, 20, 6});
    const std::string index = index_of(entries);
    const std::uint32_t third = entries[2].at;
    for (std::uint32_t length = third; length < index.size(); ++length) {
        SCOPED_TRACE("index of " + std::to_string(length) + " bytes");
        close_all();
        // The rest of the entry follows in the file, beyond the index.
        open(index, 12, length);
        expect_entry(entries[0]);
        expect_entry(entries[1]);
        expect_missing(third);
        expect_missing(length);
        expect_missing(UINT32_MAX);
        EXPECT_EQ(window_.size, 12u);
    }
}

// An index that claims more than the file holds ends where the file does.
TEST_F(IndexWindowTest, FileEndingBeforeTheIndex) {
    const std::vector<Expected> entries = entries_named({4, 30, 6});
    const std::string index = index_of(entries);
    const std::string cut = index.substr(0, entries[2].at + 5);
    open(cut, 16, static_cast<std::uint32_t>(index.size()) + 1000);
    expect_entry(entries[0]);
    expect_entry(entries[1]);
    expect_missing(entries[2].at);
    expect_missing(entries[2].at + 100);
}

// Entries visited backwards and at random, with the file's position moved
// elsewhere between lookups, as extraction moves it.
TEST_F(IndexWindowTest, JumpsBackAndAtRandom) {
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < 400; ++i) {
        lengths.push_back(i * 37 % 23 + (i % 50 == 7 ? 700 : 0));
    }
    const std::vector<Expected> entries = entries_named(lengths);
    const std::string index = index_of(entries);
    for (std::uint32_t capacity : {64u, 2048u}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        close_all();
        open(index, capacity);
        std::vector<std::size_t> order(entries.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = order.size() - 1 - i;
        }
        std::mt19937 shuffle(7);
        std::vector<std::size_t> shuffled = order;
        std::shuffle(shuffled.begin(), shuffled.end(), shuffle);
        order.insert(order.end(), shuffled.begin(), shuffled.end());
        for (std::size_t i : order) {
            std::uint32_t position = 0;
            ASSERT_EQ(file_seek(file_, 3, &position), 1);
            expect_entry(entries[i]);
        }
    }
}

}  // namespace
