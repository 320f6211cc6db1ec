// CHECK: an archive CREATE made passes; broken archives, built byte by
// byte, give exactly their findings, in their order, and their status.
#include <cstdint>

#include "support/big_writer.h"
#include "support/tool_test.h"

namespace {

const std::string CHECKING = "Checking all files...\n\n";

// An index entry; `offset` counts from the data's start unless `absolute`.
struct Slot {
    std::uint32_t offset;
    std::uint32_t size;
    std::string name;
    bool absolute = false;
};

// The header, these entries, `end`, then `data`; the header's count is the
// entries' unless `count` is given.
std::string archive(const std::vector<Slot>& slots, const std::string& data,
                    const std::string& end = END_RECORD, std::uint32_t count = 0) {
    auto start = static_cast<std::uint32_t>(16 + end.size());
    for (const Slot& slot : slots) {
        start += static_cast<std::uint32_t>(9 + slot.name.size());
    }
    std::string bytes =
        big_header("BIGF", 0, count != 0 ? count : static_cast<std::uint32_t>(slots.size()), start);
    for (const Slot& slot : slots) {
        bytes += big_entry(slot.absolute ? slot.offset : start + slot.offset, slot.size, slot.name);
    }
    return sized(bytes + end + data);
}

std::uint32_t header_field(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

class CheckTest : public ToolTest {
protected:
    // Runs CHECK on `bytes` and expects `findings` after its first line.
    void expect_check(const std::string& bytes, const std::string& findings, int status,
                      const RunOptions& options = {}) {
        write_file("x.big", bytes);
        const auto count = static_cast<int>(header_field(bytes, 8));
        EXPECT_RUN(run({"x.big", "CHECK"}, options),
                   BANNER + info_block("x.big", count, bytes.size(), header_field(bytes, 12)) +
                       CHECKING + findings,
                   status);
    }
};

TEST_F(CheckTest, ArchiveMadeByCreatePasses) {
    write_file("in/a.txt", "abc");
    write_file("in/sub/b.dat", "");
    ASSERT_EQ(run({"x.big", "CREATE", "in"}).status, 0);
    EXPECT_RUN(run({"x.big", "check"}),
               BANNER + info_block("x.big", 2, 59, 0x38) + CHECKING + "Completed successfully\n", 0);
}

struct Broken {
    const char* defect;
    std::string bytes;
    std::string findings;
    int status;
};

TEST_F(CheckTest, BrokenArchives) {
    const std::string n300(300, 'n');
    const std::string n70k(70000, 'n');
    const std::string shown = std::string(256, 'n') + "...";  // a long name's first 259 bytes
    const std::string aux = host_is_windows()
                                ? "Error: Entry 6 'aux.txt': its name is unsafe to extract.\n"
                                : "Warning: Entry 6 'aux.txt': its name would be refused on Windows.\n";
    // Windows refuses a "." part; Linux extracts it as the folder it is in.
    const bool windows = host_is_windows();
    const std::string dot_part = windows ? "Error: Entry 9 'sub\\.\\a.txt': its name is unsafe to extract.\n"
                                         : "Warning: Entry 9 'sub\\.\\a.txt': its name would be refused on Windows.\n";
    const std::vector<Broken> cases = {
        {"ranges",
         archive({{0, 3, "a"}, {0, 3, "b"}, {2, 2, "c"}, {3, 5, "d"}, {0xFFFFFFF0, 0x20, "e", true},
                  {0, 2, "f", true}, {0xFFFFFFFF, 0, "g", true}, {5, 1, "h"}},
                 "abcdef"),
         "Error: Entry 3 'd': its data runs past the end of the file.\n"
         "Error: Entry 4 'e': its data runs past the end of the file.\n"
         "Error: Entry 5 'f': its data overlaps the header or the index.\n"
         "Warning: Entry 1 'b': its data overlaps that of entry 0.\n"
         "Warning: Entry 2 'c': its data overlaps that of entry 0.\n"
         "Error: 3 problem(s) found.\n",
         2},
        {"names",
         archive({{0, 0, ""}, {0, 0, "..\\up"}, {0, 0, "C:x"}, {0, 0, n300}, {0, 0, "ok\\" + n70k},
                  {0, 0, "..\\" + n70k}, {0, 0, "aux.txt"}, {0, 0, "a\\b"}, {0, 0, "a/b"}, {0, 0, "x"},
                  {0, 0, "X"}, {0, 0, "x"}},
                 ""),
         "Error: Entry 0 '': its name is empty.\n"
         "Error: Entry 1 '..\\up': its name is unsafe to extract.\n"
         "Error: Entry 2 'C:x': its name is unsafe to extract.\n"
         "Error: Entry 3 'nnn" + shown + "': its name is too long to extract.\n"
         "Error: Entry 4 'ok\\" + shown + "': its name is too long to extract.\n"
         "Error: Entry 5 '..\\" + shown + "': its name is unsafe to extract.\n" + aux +
             "Error: Entry 8 'a/b': entry 7 has the same name; extracting both would lose one.\n"
             "Warning: Entry 10 'X': entry 9 differs only in letter case; Windows extracts both "
             "into one file.\n"
             "Error: Entry 11 'x': entry 9 has the same name; extracting both would lose one.\n"
             "Error: " + (host_is_windows() ? "9" : "8") + " problem(s) found.\n",
         2},
        // Names as extraction writes them: empty and "." parts dropped, a
        // file where another entry needs a folder, and on Windows letter
        // case beyond ASCII (code page 1252) as its file systems fold it.
        {"extraction_view",
         archive({{0, 0, "sub\\a.txt"}, {0, 0, "sub\\\\a.txt"}, {0, 0, "x\\."}, {0, 0, "a"}, {0, 0, "a\\b.txt"},
                  {0, 0, "B\\c.txt"}, {0, 0, "b"}, {0, 0, "caf\xE9.txt"}, {0, 0, "caf\xC9.txt"},
                  {0, 0, "sub\\.\\a.txt"}},
                 ""),
         "Error: Entry 2 'x\\.': its name is unsafe to extract.\n" + dot_part +
             "Error: Entry 1 'sub\\\\a.txt': entry 0 has the same name; extracting both would lose one.\n" +
             (windows ? "Warning: Entry 8 'caf\xC9.txt': entry 7 differs only in letter case; Windows extracts "
                        "both into one file.\n"
                      : "Error: Entry 9 'sub\\.\\a.txt': entry 0 has the same name; extracting both would lose "
                        "one.\n") +
             "Error: Entry 4 'a\\b.txt': it needs a folder where entry 3 'a' is a file; extraction cannot "
             "write both.\n"
             "Warning: Entry 5 'B\\c.txt': it needs a folder where entry 6 'b' is a file, but for letter "
             "case; Windows cannot extract both.\n"
             "Error: 4 problem(s) found.\n",
         2},
        {"case_only",
         archive({{0, 1, "Maps\\Sea.map"}, {1, 1, "maps\\sea.MAP"}}, "ab"),
         "Warning: Entry 1 'maps\\sea.MAP': entry 0 differs only in letter case; Windows extracts "
         "both into one file.\nCompleted successfully\n",
         0},
        // The walk meets the end record and the data as a fourth entry
        // whose name never ends.
        {"count_above_the_index",
         archive({{0, 1, "..\\a"}, {1, 1, "b"}, {2, 1, "c"}}, "xyz", END_RECORD, 0x7FFFFFFF),
         "Error: Entry 0 '..\\a': its name is unsafe to extract.\n"
         "Error: The index holds 3 of the header's 2147483647 entries.\n"
         "Error: 2 problem(s) found.\n",
         2},
        {"other_end_record", archive({{0, 1, "a"}}, "x", std::string("L226\0\0\0\0", 8)),
         "Warning: The end record is not the one this tool writes.\nCompleted successfully\n", 0},
        {"no_end_record", archive({{0, 1, "a"}}, "x", ""),
         "Warning: The end record is not the one this tool writes.\nCompleted successfully\n", 0},
    };
    for (const Broken& broken : cases) {
        SCOPED_TRACE(broken.defect);
        expect_check(broken.bytes, broken.findings, broken.status);
    }
}

// The data's first read fails (after the header's, the index's and the end
// record's): it is judged for that entry's range alone, and the next entry
// reads its own; an empty entry reads nothing.
TEST_F(CheckTest, DataThatCannotBeRead) {
    SKIP_WITHOUT_FAULT_SEAM();
    RunOptions failing;
    failing.env = {"BIGTOOL_FAULT=read:4"};
    expect_check(big_archive({{"a.txt", "abc"}, {"e", ""}, {"b", "x"}}),
                 "Error: Entry 0 'a.txt': its data cannot be read.\nError: 1 problem(s) found.\n",
                 2, failing);
}

}  // namespace
