// Indexes far larger than the reader's window: a sparse 4 GiB archive whose
// index claims the whole file, a name that never ends and a 64 MiB name,
// all under a memory limit far below what holding them would take; long
// names; and many index arguments in either order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/big_writer.h"
#include "support/test_data.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

const std::string LISTING = "Listing all files...\n\nIndex\t\tSize\tFileName\n";
const std::string EXTRACTING_ALL = extract_opening("out", 1);
const std::string COUNT_MISMATCH = "Error: Header file count mismatch.\n";

// Far below the 4 GiB that the sparse archive's index claims, and below the
// 64 MiB name; the tool itself needs a few MiB.
constexpr std::uint64_t MEMORY_LIMIT = 32u << 20;

std::string listing_row(int index, std::uint32_t size, const std::string& name) {
    char text[64];
    std::snprintf(text, sizeof text, "%-8i  %9lu  ", index, static_cast<unsigned long>(size));
    return text + name + "\n";
}

std::string slashed(std::string name) {
    for (char& c : name) {
        c = c == '\\' ? '/' : c;
    }
    return name;
}

class LargeIndexTest : public ToolTest {
protected:
    // Why a run under a memory limit cannot be made here, or "".
    static std::string no_memory_limit() {
        if (host_is_windows()) {
            return "memory limits (RLIMIT_AS) are POSIX";
        }
        if (std::getenv("ASAN_OPTIONS") != nullptr) {
            return "AddressSanitizer reserves terabytes of address space, beyond any limit";
        }
        return "";
    }

    static RunOptions limited() {
        RunOptions options;
        options.memoryLimit = MEMORY_LIMIT;
        return options;
    }
};

// 4 GiB - 1 bytes, of which only the index's start and the data at the end
// are written: the rest is a hole, which reads as zeros.
struct SparseEntry {
    std::string name;
    std::string path;
    std::uint32_t offset;  // from the start of the tail
    std::uint32_t size;
};

constexpr std::uint32_t SPARSE_SIZE = 0xFFFFFFFF;
constexpr std::uint32_t TAIL_SIZE = 4096;
constexpr std::uint32_t TAIL_AT = SPARSE_SIZE - TAIL_SIZE;

TEST_F(LargeIndexTest, SparseArchiveClaimingFourGiBOfIndex) {
    if (const std::string why = no_memory_limit(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::vector<SparseEntry> entries = {{"a.txt", "out/a.txt", 0, 10},
                                              {"sub\\b.dat", "out/sub/b.dat", 100, 3000},
                                              {"c", "out/c", 4000, 96}};
    std::string head = big_header("BIGF", SPARSE_SIZE, 3, SPARSE_SIZE);
    for (const SparseEntry& entry : entries) {
        head += big_entry(TAIL_AT + entry.offset, entry.size, entry.name);
    }
    const std::string tail = patterned_bytes(TAIL_SIZE, 11);
    write_file("x.big", head);
    std::error_code error;
    fs::resize_file(at("x.big"), SPARSE_SIZE, error);
    if (error) {
        GTEST_SKIP() << "no file of 4 GiB here: " << error.message();
    }
    {
        std::fstream out(at("x.big"), std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(TAIL_AT);
        out.write(tail.data(), TAIL_SIZE);
        ASSERT_TRUE(out.good());
    }

    const std::string info = BANNER + info_block("x.big", 3, SPARSE_SIZE, SPARSE_SIZE);
    std::string rows;
    std::string extracted;
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const SparseEntry& entry = entries[n];
        rows += listing_row(static_cast<int>(n), entry.size, entry.name);
        extracted += extracting(static_cast<int>(n), entry.size, entry.name, entry.path) + "OK\n";
    }
    EXPECT_RUN(run({"x.big", "LIST"}, limited()), info + LISTING + rows + "Completed successfully\n", 0);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, limited()),
               info + EXTRACTING_ALL + extracted + "Completed successfully\n", 0);
    for (const SparseEntry& entry : entries) {
        EXPECT_TRUE(read_file(entry.path) == tail.substr(entry.offset, entry.size)) << entry.name;
    }
    fs::remove_all(at("out"));
    EXPECT_RUN(run({"x.big", "EXTRACT", "2", "0", "out"}, limited()),
               info + extract_opening("out", 2) +
                   extracting(0, 10, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(2, 96, "c", "out/c") + "OK\nCompleted successfully\n",
               0);
    EXPECT_EQ(files_below("out"), (std::vector<std::string>{"a.txt", "c"}));
}

// The last name runs to the end of a 64 MiB index: the reader looks for its
// end without holding it, and reports the entry as missing.
TEST_F(LargeIndexTest, NameThatNeverEndsUnderAMemoryLimit) {
    if (const std::string why = no_memory_limit(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::string bytes = big_header("BIGF", 0, 2, 0) + big_entry(0, 3, "a.txt") +
                        big_entry(0, 0, std::string(64u << 20, 'n'), false);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    patch_le32(bytes, 4, size);
    patch_be32(bytes, 12, size);
    write_file("x.big", bytes);
    const std::string info = BANNER + info_block("x.big", 2, size, size);
    EXPECT_RUN(run({"x.big", "LIST"}, limited()),
               info + LISTING + listing_row(0, 3, "a.txt") + "\n" + COUNT_MISMATCH, 2);
    EXPECT_RUN(run({"x.big", "EXTRACT", "*", "out"}, limited()),
               info + EXTRACTING_ALL + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" + COUNT_MISMATCH, 2);
    EXPECT_EQ(read_file("out/a.txt"), "BIG");
}

// A terminated name of 64 MiB, twice the memory the tool may have, with
// control bytes at its ends and two-byte characters that the window's
// pieces cut: LIST prints it whole, EXTRACT refuses it, quoting 258 bytes
// (the 259th begins a character).
TEST_F(LargeIndexTest, LongNameUnderAMemoryLimit) {
    if (const std::string why = no_memory_limit(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::string characters = "\xC3\xA9";
    while (characters.size() < (64u << 20)) {
        characters += characters;
    }
    std::vector<FixtureEntry> entries = {{"long\\\x01" + characters + "\x7F", "zz"},
                                         {"a.txt", "abc"}};
    const std::size_t start = 16 + 9 + entries[0].name.size() + 9 + 5 + 8;
    write_file("x.big", big_archive(entries));
    std::string& shown = entries[0].name;
    shown[5] = shown.back() = '?';
    const std::string info = BANNER + info_block("x.big", 2, start + 5, start);
    const ToolRun listed = run({"x.big", "LIST"}, limited());
    // Compared as a whole: gtest would print 64 MiB.
    EXPECT_TRUE(listed.out == info + LISTING + listing_row(0, 2, shown) +
                                  listing_row(1, 3, "a.txt") + "Completed successfully\n")
        << listed.out.substr(0, 400);
    EXPECT_EQ(listed.err, "");
    EXPECT_EQ(listed.status, 0);
    EXPECT_RUN(run({"x.big", "EXTRACT", "1", "0", "out"}, limited()),
               info + extract_opening("out", 2) + "Error: Path too long to extract '" +
                   shown.substr(0, 258) + "...'.\n",
               2);
    EXPECT_TRUE(files_below("out").empty());
}

// Names longer than the reader's 64 KiB window are still printed whole, in
// pieces, and the entries after them are where they should be.
TEST_F(LargeIndexTest, NamesLongerThanTheWindow) {
    const std::string long_name = "long\\" + std::string(100000, 'n');
    const std::string longer_name = std::string(200000, 'm');
    const std::vector<FixtureEntry> entries = {
        {"a.txt", "abc"}, {long_name, "12"}, {"b.txt", "de"}, {longer_name, ""}, {"c.txt", "f"}};
    const std::string bytes = big_archive(entries);
    write_file("x.big", bytes);
    const auto start =
        static_cast<unsigned long>(16 + 5 * 9 + 15 + long_name.size() + longer_name.size() + 8);
    const std::string info = BANNER + info_block("x.big", 5, bytes.size(), start);
    std::string rows;
    for (std::size_t n = 0; n < entries.size(); ++n) {
        rows += listing_row(static_cast<int>(n), static_cast<std::uint32_t>(entries[n].data.size()),
                            entries[n].name);
    }
    EXPECT_RUN(run({"x.big", "LIST"}), info + LISTING + rows + "Completed successfully\n", 0);
    EXPECT_RUN(run({"x.big", "EXTRACT", "4", "2", "0", "out"}),
               info + extract_opening("out", 3) +
                   extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(2, 2, "b.txt", "out/b.txt") + "OK\n" +
                   extracting(4, 1, "c.txt", "out/c.txt") + "OK\nCompleted successfully\n",
               0);
    EXPECT_EQ(read_file("out/a.txt") + read_file("out/b.txt") + read_file("out/c.txt"), "abcdef");
}

// A folder whose names pass CREATE's 1 MiB index: COMPARE walks it whole,
// UPDATE adds it all, and DELETE of one entry rewrites the whole index.
TEST_F(LargeIndexTest, ChangesPastCreatesIndexLimit) {
    // Names as long as paths below in/ may be, so that few files are needed.
    const std::size_t name_size = 258 - local("in/").size();
    if (name_size < 150) {
        GTEST_SKIP() << "the test's folder leaves too little room for long names";
    }
    const int count = static_cast<int>(1048576 / (9 + name_size)) + 1;
    const std::string folder(80, 'p');
    std::vector<FixtureEntry> files;
    std::string only_in_folder;
    std::string added;
    for (int i = 0; i < count; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%04d", i);
        files.push_back({folder + "\\" + std::string(name_size - 85, 'q') + number, std::to_string(i % 10)});
        const std::string path = "in/" + slashed(files.back().name);
        write_file(path, files.back().data);
        only_in_folder += "Only in folder '" + local(path) + "'\n";
        added += "Adding[" + std::to_string(i + 1) + "] 0kb '" + local(path) + "': Done\n";
    }
    std::vector<FixtureEntry> updated = {{"keep.txt", "k"}};
    updated.insert(updated.end(), files.begin(), files.end());
    const std::string before = big_archive({{"keep.txt", "k"}});
    const std::string after = big_archive(updated);
    const auto start = static_cast<unsigned long>(16 + 8 + (9 + 8) + count * (9 + name_size));
    const std::string import = "Import directory: " + local("in") + "\n\n";
    const std::string n = std::to_string(count);
    write_file("x.big", before);
    const std::string opened = BANNER + info_block("x.big", 1, before.size(), 41) + import;
    EXPECT_RUN(run({"x.big", "COMPARE", "in"}),
               opened + "Only in archive[0] 'keep.txt'\n" + only_in_folder + "Error: " + n + " difference(s) found.\n",
               3);
    EXPECT_RUN(run({"x.big", "UPDATE", "in"}),
               opened + added + "Files kept: 1, replaced: 0, added: " + n + "\nCompleted successfully\n", 0);
    ASSERT_TRUE(read_file("x.big") == after);
    EXPECT_RUN(run({"x.big", "DELETE", "keep.txt"}),
               BANNER + info_block("x.big", count + 1, after.size(), start) + "Removing[0] 0kb 'keep.txt'\nFiles kept: " +
                   n + ", removed: 1\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == big_archive(files));
}

// Enough entries for the index to cross the reader's window several times.
constexpr int ENTRY_COUNT = 6000;

std::vector<FixtureEntry> many_entries() {
    std::vector<FixtureEntry> entries;
    for (int i = 0; i < ENTRY_COUNT; ++i) {
        // Appended rather than added to a literal, which GCC 12's -Wrestrict
        // misreads in Release builds.
        std::string name = "d";
        name += std::to_string(i % 10);
        name += '\\';
        name.append(static_cast<std::size_t>(i % 13), 'x');
        name += 'f';
        name += std::to_string(i);
        std::string data = "data of ";
        data += std::to_string(i);
        entries.push_back({name, data});
    }
    return entries;
}

class ManyIndexesTest : public LargeIndexTest {
protected:
    void SetUp() override {
        LargeIndexTest::SetUp();
        entries_ = many_entries();
        bytes_ = big_archive(entries_);
        start_ = 16 + 8;
        for (const FixtureEntry& entry : entries_) {
            start_ += 9 + entry.name.size();
        }
        ASSERT_GT(start_, 2u * 65536u);
    }

    // The run's output when visiting `indexes` from the last to the first,
    // with `count` as the header's fileCount; it stops at the first entry
    // beyond the index.
    std::string expected(const std::vector<std::int64_t>& indexes, int count) const {
        std::string out = BANNER + info_block("x.big", count, bytes_.size(), start_) +
                          extract_opening("out", static_cast<int>(indexes.size()));
        for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
            auto n = static_cast<std::uint32_t>(*it);
            if (n >= static_cast<std::uint32_t>(count)) {
                out += "Skipping index number " + std::to_string(n) + "\n";
            } else if (n >= entries_.size()) {
                return out + COUNT_MISMATCH;
            } else {
                const FixtureEntry& entry = entries_[n];
                out += extracting(static_cast<int>(n), entry.data.size(), entry.name,
                                  "out/" + slashed(entry.name)) +
                       "OK\n";
            }
        }
        return out + "Completed successfully\n";
    }

    ToolRun extract(const std::vector<std::int64_t>& indexes) {
        std::vector<std::string> args = {"x.big", "EXTRACT"};
        for (std::int64_t n : indexes) {
            args.push_back(std::to_string(n));
        }
        args.push_back("out");
        return run(args);
    }

    // The files that visiting `indexes` from the last back to position
    // `stop` writes.
    std::vector<std::string> written(const std::vector<std::int64_t>& indexes,
                                     std::size_t stop = 0) const {
        std::vector<std::string> files;
        for (std::size_t i = stop; i < indexes.size(); ++i) {
            if (indexes[i] >= 0 && indexes[i] < ENTRY_COUNT) {
                files.push_back(slashed(entries_[static_cast<std::size_t>(indexes[i])].name));
            }
        }
        std::sort(files.begin(), files.end());
        files.erase(std::unique(files.begin(), files.end()), files.end());
        return files;
    }

    void expect_files(const std::vector<std::string>& files) const {
        EXPECT_EQ(files_below("out"), files);
        for (const FixtureEntry& entry : entries_) {
            const std::string path = "out/" + slashed(entry.name);
            if (exists(path)) {
                EXPECT_EQ(read_file(path), entry.data);
            }
        }
    }

    std::vector<FixtureEntry> entries_;
    std::string bytes_;
    std::size_t start_ = 0;
};

// Spread over the whole index, with a few repeats, `skipped` and -1.
std::vector<std::int64_t> ascending_indexes(std::int64_t skipped) {
    std::vector<std::int64_t> indexes;
    for (int n = 0; n < ENTRY_COUNT; n += 37) {
        indexes.push_back(n);
        if (n % 5 == 0) {
            indexes.push_back(n);
        }
    }
    indexes.push_back(ENTRY_COUNT - 1);
    indexes.insert(indexes.begin() + 40, skipped);
    indexes.insert(indexes.begin() + 90, -1);
    return indexes;
}

TEST_F(ManyIndexesTest, AscendingAndDescendingGiveTheSameFiles) {
    write_file("x.big", bytes_);
    const std::vector<std::int64_t> ascending = ascending_indexes(ENTRY_COUNT);
    const std::vector<std::int64_t> descending(ascending.rbegin(), ascending.rend());
    for (const auto& indexes : {ascending, descending}) {
        fs::remove_all(at("out"));
        EXPECT_RUN(extract(indexes), expected(indexes, ENTRY_COUNT), 0);
        expect_files(written(indexes));
    }
}

// fileCount promises more entries than the index holds: the first argument
// visited that asks for one of them ends the run, after the same files.
TEST_F(ManyIndexesTest, MissingEntryEndsTheRunWhereItsArgumentComes) {
    const int count = ENTRY_COUNT + 500;
    patch_be32(bytes_, 8, static_cast<std::uint32_t>(count));
    write_file("x.big", bytes_);
    std::vector<std::int64_t> indexes = ascending_indexes(count);
    const std::size_t missing_at = 100;
    indexes.insert(indexes.begin() + missing_at, ENTRY_COUNT + 100);

    std::vector<std::int64_t> ascending = indexes;
    ascending.push_back(count);  // skipped first
    EXPECT_RUN(extract(ascending), expected(ascending, count), 2);
    expect_files(written(ascending, missing_at + 1));

    const std::vector<std::int64_t> descending(indexes.rbegin(), indexes.rend());
    fs::remove_all(at("out"));
    EXPECT_RUN(extract(descending), expected(descending, count), 2);
    expect_files(written(descending, descending.size() - missing_at));

    std::vector<std::int64_t> missing_first = indexes;
    missing_first.push_back(ENTRY_COUNT + 400);
    fs::remove_all(at("out"));
    EXPECT_RUN(extract(missing_first), expected(missing_first, count), 2);
    EXPECT_TRUE(files_below("out").empty());
}

// A read of the index that fails after the first window is reported as
// such, not as entries missing from the index.
TEST_F(ManyIndexesTest, IndexReadFailingPartWay) {
    if (BIGTOOL_SEAM_BUILT == 0) {
        GTEST_SKIP() << "only a tool built with the fault seam fails on purpose";
    }
    write_file("x.big", bytes_);
    RunOptions third_read_fails;
    // The header, the index's first window, then the next one.
    third_read_fails.env = {"BIGTOOL_FAULT=read:3"};
    const std::string info = BANNER + info_block("x.big", ENTRY_COUNT, bytes_.size(), start_);
    // Listed: the entries that end within the first 64 KiB of the index.
    std::string rows;
    std::size_t end = 0;
    for (int n = 0; n < ENTRY_COUNT; ++n) {
        const FixtureEntry& entry = entries_[static_cast<std::size_t>(n)];
        end += 9 + entry.name.size();
        if (end > 65536) {
            break;
        }
        rows += listing_row(n, static_cast<std::uint32_t>(entry.data.size()), entry.name);
    }
    EXPECT_RUN(run({"x.big", "LIST"}, third_read_fails),
               info + LISTING + rows + "Error: Could not read file.\n", 2);

    // Extraction finds its entries' places before the first is extracted.
    EXPECT_RUN(run({"x.big", "EXTRACT", "0", std::to_string(ENTRY_COUNT - 1), "out"}, third_read_fails),
               info + extract_opening("out", 2) +
                   "Error: Could not read file.\n",
               2);
    EXPECT_TRUE(files_below("out").empty());
}

}  // namespace
