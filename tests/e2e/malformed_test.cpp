// Broken archives, built byte by byte, through LIST and EXTRACT *: each ends
// with its one message and status, or, where the format allows it, extracts
// exactly; never a crash, a hang or a file written for an archive refused.
#include <cstdint>
#include <cstdio>

#include "support/big_writer.h"
#include "support/tool_test.h"

namespace {

const std::string LISTING = "Listing all files...\n\nIndex\t\tSize\tFileName\n";
const std::string EXTRACTING_ALL = extract_opening("out", 1);
const std::string COUNT_MISMATCH = "Error: Header file count mismatch.\n";
const std::string READ_FAILED = "Error: Could not read from BIG file.\n";

std::string row(int index, std::uint32_t size, const std::string& name) {
    char text[64];
    std::snprintf(text, sizeof text, "%-8i  %9lu  ", index, static_cast<unsigned long>(size));
    return text + name + "\n";
}

class MalformedTest : public ToolTest {
protected:
    ToolRun list() { return run({"x.big", "LIST"}); }
    ToolRun extract_all() { return run({"x.big", "EXTRACT", "*", "out"}); }
};

// Refused while validating: the same message for both commands, and EXTRACT
// creates nothing. The tests run in the order magic, size, count, start,
// and only the first that fails is reported.
struct Refused {
    const char* defect;
    std::string bytes;
    const char* message;
};

std::string three_entries() {
    return big_archive({{"a.txt", "abc"}, {"sub\\b.dat", "xy"}, {"c", "q"}});
}

std::string patched_be(std::size_t at, std::uint32_t value) {
    std::string bytes = three_entries();
    patch_be32(bytes, at, value);
    return bytes;
}

std::string patched_le(std::size_t at, std::uint32_t value) {
    std::string bytes = three_entries();
    patch_le32(bytes, at, value);
    return bytes;
}

std::string with_magic(const std::string& magic) {
    std::string bytes = three_entries();
    bytes.replace(0, 4, magic);
    return bytes;
}

TEST_F(MalformedTest, RefusedWhileValidating) {
    const char* not_big = "Error: This is not a tarvenor BIG file.\n";
    const char* size_mismatch = "Error: Header filesize mismatch.\n";
    const char* no_files = "Error: Does not contain any file.\n";
    const char* bad_start = "Error: Invalid start offset.\n";
    const std::vector<Refused> cases = {
        {"empty_file", "", not_big},
        {"four_bytes", "BIGF", size_mismatch},
        {"twelve_bytes", "BIGF" + le32(12) + be32(1), bad_start},
        {"fifteen_bytes_start_zero", "BIGF" + le32(15) + be32(1) + std::string(3, '\0'), bad_start},
        {"magic_reversed", with_magic("FGIB"), not_big},
        {"magic_with_zero", with_magic(std::string("BIG\0", 4)), not_big},
        {"magic_lower_case", with_magic("bigf"), not_big},
        {"one_byte_appended", three_entries() + "!", size_mismatch},
        {"size_one_less", patched_le(4, 71), size_mismatch},
        {"size_one_more", patched_le(4, 73), size_mismatch},
        {"size_in_big_endian", patched_be(4, 72), size_mismatch},
        {"count_zero", patched_be(8, 0), no_files},
        {"count_minus_one", patched_be(8, 0xFFFFFFFF), no_files},
        {"count_most_negative", patched_be(8, 0x80000000), no_files},
        {"start_zero", patched_be(12, 0), bad_start},
        {"start_fifteen", patched_be(12, 15), bad_start},
        {"wrong_magic_and_size", "XIGF" + le32(99) + be32(0) + be32(16), not_big},
        {"wrong_size_and_count", "BIGF" + le32(99) + be32(0) + be32(16), size_mismatch},
        {"wrong_count_and_start", "BIGF" + le32(16) + be32(0) + be32(0), no_files},
    };
    for (const Refused& bad : cases) {
        SCOPED_TRACE(bad.defect);
        write_file("x.big", bad.bytes);
        const std::string expected = BANNER + "Validating 'x.big': " + bad.message;
        EXPECT_RUN(list(), expected, 2);
        EXPECT_RUN(extract_all(), expected, 2);
        EXPECT_FALSE(exists("out"));
        EXPECT_TRUE(read_file("x.big") == bad.bytes);
    }
}

// A prefix whose archiveSize still states the whole archive's size is
// refused by the size test, or by the magic before it.
TEST_F(MalformedTest, RawPrefixesAreRefused) {
    const std::string full = three_entries();
    for (std::size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE(length);
        write_file("x.big", full.substr(0, length));
        const std::string expected =
            BANNER + "Validating 'x.big': " +
            (length < 4 ? "Error: This is not a tarvenor BIG file.\n" : "Error: Header filesize mismatch.\n");
        EXPECT_RUN(list(), expected, 2);
        EXPECT_RUN(extract_all(), expected, 2);
        EXPECT_FALSE(exists("out"));
    }
}

// The archive of three_entries() cut at every length, archiveSize patched
// to match. Its layout: header 0-15; entries at 16 (a.txt, 14 bytes), 30
// (sub\b.dat, 18) and 48 (c, 10); end record 58-65; data abc at 66, xy at 69,
// q at 71. LIST must list the entries whose index bytes are all there, and
// succeed once the whole index is; EXTRACT * must stop at the first entry
// whose index bytes or data are missing, having written exactly the bytes
// that are there.
TEST_F(MalformedTest, PatchedPrefixesListAndExtractWhatIsThere) {
    const std::string full = three_entries();
    ASSERT_EQ(full.size(), 72u);
    struct Entry {
        std::string name;
        std::string path;
        std::size_t indexEnd;  // file length at which the entry is complete
        std::size_t dataAt;
        std::string data;
    };
    const std::vector<Entry> entries = {{"a.txt", "out/a.txt", 30, 66, "abc"},
                                        {"sub\\b.dat", "out/sub/b.dat", 48, 69, "xy"},
                                        {"c", "out/c", 58, 71, "q"}};
    for (std::size_t length = 8; length < full.size(); ++length) {
        SCOPED_TRACE(length);
        std::filesystem::remove_all(at("out"));
        std::string prefix = full.substr(0, length);
        patch_le32(prefix, 4, static_cast<std::uint32_t>(length));
        write_file("x.big", prefix);
        const ToolRun result = extract_all();
        std::string expected;
        std::string listed;
        int list_status = 2;
        if (length < 12) {
            // The count's low byte is missing.
            expected = BANNER + "Validating 'x.big': Error: Does not contain any file.\n";
            listed = expected;
        } else if (length < 16) {
            expected = BANNER + "Validating 'x.big': Error: Invalid start offset.\n";
            listed = expected;
        } else {
            listed = BANNER + info_block("x.big", 3, length, 66) + LISTING;
            for (std::size_t n = 0; n < entries.size(); ++n) {
                if (length < entries[n].indexEnd) {
                    listed += "\n" + COUNT_MISMATCH;
                    break;
                }
                listed += row(static_cast<int>(n), static_cast<std::uint32_t>(entries[n].data.size()),
                              entries[n].name);
            }
            // LIST reads no data: the whole index is enough.
            if (length >= entries.back().indexEnd) {
                listed += "Completed successfully\n";
                list_status = 0;
            }
            expected = BANNER + info_block("x.big", 3, length, 66);
            expected += EXTRACTING_ALL;
            for (std::size_t n = 0; n < entries.size(); ++n) {
                const Entry& entry = entries[n];
                if (length < entry.indexEnd) {
                    expected += COUNT_MISMATCH;
                    break;
                }
                expected += extracting(static_cast<int>(n), static_cast<std::uint32_t>(entry.data.size()),
                                       entry.name, entry.path);
                if (length < entry.dataAt + entry.data.size()) {
                    expected += READ_FAILED;
                    std::size_t there = length > entry.dataAt ? length - entry.dataAt : 0;
                    EXPECT_TRUE(exists(entry.path));
                    EXPECT_EQ(read_file(entry.path), entry.data.substr(0, there));
                    break;
                }
                expected += "OK\n";
                EXPECT_EQ(read_file(entry.path), entry.data);
            }
        }
        EXPECT_RUN(result, expected, 2);
        if (length < 16) {
            EXPECT_FALSE(exists("out"));
        }
        EXPECT_RUN(list(), listed, list_status);
    }
}

// Sizes are 32-bit: a file of 4 GiB or more is no archive, even when the
// low 32 bits of its size match the header's.
TEST_F(MalformedTest, FileOfFourGiBOrMore) {
    const std::string bytes = three_entries();
    write_file("x.big", bytes);
    std::error_code error;
    std::filesystem::resize_file(at("x.big"), (std::uint64_t{1} << 32) + bytes.size(), error);
    if (error) {
        GTEST_SKIP() << "this file system cannot hold a sparse file of 4 GiB: " << error.message();
    }
    const std::string expected = BANNER + "Validating 'x.big': Error: Header filesize mismatch.\n";
    EXPECT_RUN(list(), expected, 2);
    EXPECT_RUN(extract_all(), expected, 2);
    EXPECT_FALSE(exists("out"));
}

// 15 bytes whose missing last byte, read as zero, makes startOffset 256: the
// header passes, and the index it promises is not there.
TEST_F(MalformedTest, FifteenBytesThatPassTheHeader) {
    write_file("x.big", "BIGF" + le32(15) + be32(1) + std::string("\0\0\1", 3));
    const std::string head = BANNER + info_block("x.big", 1, 15, 0x100);
    EXPECT_RUN(list(), head + LISTING + "\n" + COUNT_MISMATCH, 2);
    EXPECT_RUN(extract_all(), head + EXTRACTING_ALL + COUNT_MISMATCH, 2);
    EXPECT_TRUE(files_below("out").empty());
}

TEST_F(MalformedTest, CountFarAboveTheIndex) {
    std::string bytes = patched_be(8, 0x7FFFFFFF);
    write_file("x.big", bytes);
    const std::string head = BANNER + info_block("x.big", 0x7FFFFFFF, 72, 66);
    EXPECT_RUN(list(),
               head + LISTING + row(0, 3, "a.txt") + row(1, 2, "sub\\b.dat") + row(2, 1, "c") + "\n" +
                   COUNT_MISMATCH,
               2);
    EXPECT_RUN(extract_all(),
               head + EXTRACTING_ALL + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                   extracting(1, 2, "sub\\b.dat", "out/sub/b.dat") + "OK\n" +
                   extracting(2, 1, "c", "out/c") + "OK\n" + COUNT_MISMATCH,
               2);
    EXPECT_EQ(files_below("out"), (std::vector<std::string>{"a.txt", "c", "sub/b.dat"}));
}

TEST_F(MalformedTest, StartOfExactlySixteenHasNoEntries) {
    write_file("x.big", big_header("BIGF", 16, 1, 16));
    const std::string head = BANNER + info_block("x.big", 1, 16, 16);
    EXPECT_RUN(list(), head + LISTING + "\n" + COUNT_MISMATCH, 2);
    EXPECT_RUN(extract_all(), head + EXTRACTING_ALL + COUNT_MISMATCH, 2);
    EXPECT_TRUE(files_below("out").empty());
}

// startOffset is trusted no further than the file: the entries are read
// from the bytes there, and data offsets do not depend on it.
TEST_F(MalformedTest, StartBeyondTheEndStillExtracts) {
    for (std::uint32_t start : {72u + 100u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(start);
        std::filesystem::remove_all(at("out"));
        std::string bytes = patched_be(12, start);
        write_file("x.big", bytes);
        const std::string head = BANNER + info_block("x.big", 3, 72, start);
        EXPECT_RUN(list(),
                   head + LISTING + row(0, 3, "a.txt") + row(1, 2, "sub\\b.dat") + row(2, 1, "c") +
                       "Completed successfully\n",
                   0);
        EXPECT_RUN(extract_all(),
                   head + EXTRACTING_ALL + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" +
                       extracting(1, 2, "sub\\b.dat", "out/sub/b.dat") + "OK\n" +
                       extracting(2, 1, "c", "out/c") + "OK\nCompleted successfully\n",
                   0);
        EXPECT_EQ(read_file("out/a.txt"), "abc");
        EXPECT_EQ(read_file("out/sub/b.dat"), "xy");
        EXPECT_EQ(read_file("out/c"), "q");
    }
}

TEST_F(MalformedTest, NameWithoutTerminatorAtTheEndOfTheIndex) {
    std::string bytes = sized(big_header("BIGF", 0, 2, 16 + 14 + 5) + big_entry(35, 0, "a.txt") +
                              big_entry(35, 0, "abcde", false));
    write_file("x.big", bytes);
    const std::string head = BANNER + info_block("x.big", 2, bytes.size(), 35);
    EXPECT_RUN(list(), head + LISTING + row(0, 0, "a.txt") + "\n" + COUNT_MISMATCH, 2);
    EXPECT_RUN(extract_all(),
               head + EXTRACTING_ALL + extracting(0, 0, "a.txt", "out/a.txt") + "OK\n" + COUNT_MISMATCH, 2);
    EXPECT_EQ(files_below("out"), std::vector<std::string>{"a.txt"});
}

// The index claims the whole 4 GiB and the last name runs to the file's
// last byte: the name's search must stop at the end of the file.
TEST_F(MalformedTest, NameRunningToTheEndOfTheFile) {
    std::string bytes = sized(big_header("BIGF", 0, 2, 0xFFFFFFF0) + big_entry(0, 3, "a.txt") +
                              big_entry(16, 0, "tail", false));
    write_file("x.big", bytes);
    const std::string head = BANNER + info_block("x.big", 2, bytes.size(), 0xFFFFFFF0);
    EXPECT_RUN(list(), head + LISTING + row(0, 3, "a.txt") + "\n" + COUNT_MISMATCH, 2);
    EXPECT_RUN(extract_all(),
               head + EXTRACTING_ALL + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" + COUNT_MISMATCH, 2);
    EXPECT_EQ(read_file("out/a.txt"), "BIG");  // its data is the header's first bytes
}

// dataOffset + dataSize past 4 GiB wraps to a small number in 32 bits; the
// copy must still stop at the file's end rather than believe the sum.
TEST_F(MalformedTest, DataRangeWrappingPastFourGiB) {
    struct Wrap {
        const char* defect;
        std::uint32_t offset;
        std::uint32_t size;
        std::string written;  // what the partial target holds afterwards
    };
    const std::vector<Wrap> cases = {
        {"size_wraps", 38, 0xFFFFFFF0, "abc"},
        {"offset_wraps", 0xFFFFFFF0, 0x20, ""},
    };
    for (const Wrap& wrap : cases) {
        SCOPED_TRACE(wrap.defect);
        std::string bytes = sized(big_header("BIGF", 0, 1, 38) + big_entry(wrap.offset, wrap.size, "a.txt") +
                                  END_RECORD + "abc");
        write_file("x.big", bytes);
        const std::string head = BANNER + info_block("x.big", 1, 41, 38);
        EXPECT_RUN(list(), head + LISTING + row(0, wrap.size, "a.txt") + "Completed successfully\n", 0);
        EXPECT_RUN(extract_all(),
                   head + EXTRACTING_ALL + extracting(0, wrap.size, "a.txt", "out/a.txt") + READ_FAILED, 2);
        EXPECT_EQ(read_file("out/a.txt"), wrap.written);
    }
}

// An empty entry needs no data, wherever its offset points.
TEST_F(MalformedTest, EmptyEntryOffsetBeyondTheEnd) {
    std::string bytes = sized(big_header("BIGF", 0, 2, 16 + 10 + 10 + 8) + big_entry(0xFFFFFFFF, 0, "a") +
                              big_entry(44, 1, "b") + END_RECORD + "z");
    write_file("x.big", bytes);
    EXPECT_RUN(extract_all(),
               BANNER + info_block("x.big", 2, 45, 44) + EXTRACTING_ALL + extracting(0, 0, "a", "out/a") +
                   "OK\n" + extracting(1, 1, "b", "out/b") + "OK\nCompleted successfully\n",
               0);
    EXPECT_EQ(read_file("out/a"), "");
    EXPECT_EQ(read_file("out/b"), "z");
}

// Entries may share data, overlap, or point into the header and index: all
// legal, and each extracts exactly its own range.
TEST_F(MalformedTest, SharedAndOverlappingDataRanges) {
    const std::size_t shared = 40;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < shared; ++i) {
        names.push_back("same" + std::to_string(i));
    }
    names.push_back("inner");
    names.push_back("whole");
    std::size_t index_size = 0;
    for (const std::string& name : names) {
        index_size += 9 + name.size();
    }
    const auto start = static_cast<std::uint32_t>(16 + index_size + 8);
    const std::string data = "0123456789";
    const auto total = static_cast<std::uint32_t>(start + data.size());
    std::string bytes = big_header("BIGF", total, static_cast<std::uint32_t>(names.size()), start);
    for (std::size_t i = 0; i < shared; ++i) {
        bytes += big_entry(start, 10, names[i]);
    }
    bytes += big_entry(start + 3, 4, "inner");
    bytes += big_entry(0, total, "whole");
    bytes += END_RECORD + data;
    ASSERT_EQ(bytes.size(), total);
    write_file("x.big", bytes);

    std::string expected = BANNER + info_block("x.big", static_cast<int>(names.size()), total, start) +
                           EXTRACTING_ALL;
    for (std::size_t i = 0; i < shared; ++i) {
        expected += extracting(static_cast<int>(i), 10, names[i], "out/" + names[i]) + "OK\n";
    }
    expected += extracting(static_cast<int>(shared), 4, "inner", "out/inner") + "OK\n";
    expected += extracting(static_cast<int>(shared + 1), total, "whole", "out/whole") + "OK\n";
    EXPECT_RUN(extract_all(), expected + "Completed successfully\n", 0);
    for (std::size_t i = 0; i < shared; ++i) {
        EXPECT_EQ(read_file("out/" + names[i]), data) << names[i];
    }
    EXPECT_EQ(read_file("out/inner"), "3456");
    EXPECT_TRUE(read_file("out/whole") == bytes);
    EXPECT_EQ(files_below("out").size(), names.size());
}

}  // namespace
