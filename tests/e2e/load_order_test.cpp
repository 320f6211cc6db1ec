// CONFLICTS and DIFF: archives read together in a load order, each shown
// as LIST shows it, what is reported and the exit status; nothing written.
#include <algorithm>

#include "support/big_writer.h"
#include "support/tool_test.h"

namespace {

struct Archive {
    std::string file;
    std::vector<FixtureEntry> entries;  // empty: `raw` instead
    std::string raw = {};
};

struct WordCase {
    const char* name;
    std::vector<Archive> archives;
    std::vector<std::string> args;  // after the tool
    std::string shown;              // archives whose information block comes first, in order
    std::string out;                // after them
    int status;
};

const std::vector<FixtureEntry> BASE = {{"data\\ini\\weapon.ini", "w=40"}, {"maps\\a.map", "map"}, {"old.txt", "o"}};
const std::vector<FixtureEntry> MOD = {{"Data/INI/Weapon.ini", "w=45!"}, {"MAPS\\A.MAP", "map"}, {"new.txt", "n"}};
const std::vector<FixtureEntry> MOD2 = {{"data\\ini\\weapon.ini", "w=50"}, {"new.txt", "N"}, {"new.txt", "n"}};

std::string outside() {
    std::string bytes = big_archive({{"maps\\a.map", "map"}});
    patch_be32(bytes, 16, 0xFFFFFF00);
    return bytes;
}

const std::vector<WordCase> CASES = {
    {"ConflictsInLoadOrder", {{"base.big", BASE}, {"mod.big", MOD}, {"mod2.big", MOD2}},
     {"base.big", "CONFLICTS", "mod.big", "mod2.big"}, "base.big mod.big mod2.big",
     "Conflict 'data\\ini\\weapon.ini': 'base.big'[0], 'mod.big'[0], winner 'mod2.big'[0]\n"
     "Conflict 'new.txt': 'mod.big'[2], winner 'mod2.big'[1]\n"
     "Held more than once with the same bytes: 1\nError: 2 conflict(s) found.\n", 3},
    {"NoConflictFromAList", {{"base.big", BASE}, {"same.big", {{"OLD.TXT", "o"}}}, {"list.txt", {}, "\r\nsame.big\r\n\n"}},
     {"base.big", "conflicts", "@list.txt"}, "base.big same.big",
     "Held more than once with the same bytes: 1\nCompleted successfully\n", 0},
    {"ConflictsOfOneArchive", {{"base.big", BASE}}, {"base.big", "CONFLICTS"}, "", "Error: Bad parameters.\n", 1},
    {"EmptyList", {{"base.big", BASE}, {"list.txt", {}, "\n\r\n"}}, {"base.big", "CONFLICTS", "@list.txt"}, "",
     "Error: The list file 'list.txt' holds no archive.\n", 2},
    {"MissingList", {{"base.big", BASE}}, {"base.big", "CONFLICTS", "@none.txt"}, "",
     "Error: Could not read the list file 'none.txt'.\n", 2},
    {"EveryArchiveValidatedFirst", {{"base.big", BASE}, {"mod.big", MOD}, {"bad.big", {}, "BIGx"}},
     {"base.big", "CONFLICTS", "mod.big", "bad.big"}, "base.big mod.big",
     "Validating 'bad.big': Error: This is not a tarvenor BIG file.\n", 2},
    {"CountMismatch", {{"base.big", BASE}, {"short.big", {}, sized(big_header("BIGF", 0, 2, 16 + 9 + 2 + 8) + big_entry(0, 0, "a") + END_RECORD)}},
     {"short.big", "CONFLICTS", "base.big"}, "", "Validating 'short.big': Error: Header file count mismatch.\n", 2},
    {"UnreadableData", {{"base.big", BASE}, {"out.big", {}, outside()}}, {"base.big", "CONFLICTS", "out.big"},
     "base.big out.big", "Error: Entry 0 'maps\\a.map' in 'out.big': its data cannot be read.\n", 2},
    {"DiffOldNew", {{"base.big", BASE}, {"mod.big", MOD}}, {"base.big", "DIFF", "mod.big"}, "base.big mod.big",
     "Changed[0] 'Data/INI/Weapon.ini'\nRemoved[2] 'old.txt'\nAdded[2] 'new.txt'\n"
     "Files added: 1, removed: 1, changed: 1\nError: 3 difference(s) found.\n", 3},
    {"DiffOfOrderAndCaseAlone", {{"base.big", BASE}, {"moved.big", {{"OLD.TXT", "o"}, {"maps/a.map", "map"}, {"data\\ini\\weapon.ini", "w=40"}}}},
     {"base.big", "diff", "moved.big"}, "base.big moved.big",
     "Files added: 0, removed: 0, changed: 0\nCompleted successfully\n", 0},
    {"DiffOfSameSizeOtherBytes", {{"base.big", BASE}, {"mod2.big", MOD2}}, {"base.big", "DIFF", "mod2.big"},
     "base.big mod2.big",
     "Changed[0] 'data\\ini\\weapon.ini'\nRemoved[1] 'maps\\a.map'\nRemoved[2] 'old.txt'\nAdded[1] 'new.txt'\n"
     "Files added: 1, removed: 2, changed: 1\nError: 4 difference(s) found.\n", 3},
    {"DiffWithItselfFromAList", {{"mod2.big", MOD2}, {"list.txt", {}, "mod2.big"}}, {"mod2.big", "DIFF", "@list.txt"},
     "mod2.big mod2.big", "Files added: 0, removed: 0, changed: 0\nCompleted successfully\n", 0},
    {"DiffOfThree", {{"base.big", BASE}}, {"base.big", "DIFF", "base.big", "base.big"}, "", "Error: Bad parameters.\n", 1},
    {"DiffOfAMissingArchive", {{"base.big", BASE}}, {"base.big", "DIFF", "none.big"}, "base.big",
     "Validating 'none.big': Error: Could not open file.\n", 2},
};

class LoadOrderWordTest : public ToolTest, public ::testing::WithParamInterface<WordCase> {};

TEST_P(LoadOrderWordTest, ReportsAndWritesNothing) {
    const WordCase& c = GetParam();
    std::vector<std::string> files;
    for (const Archive& archive : c.archives) {
        write_file(archive.file, archive.entries.empty() ? archive.raw : big_archive(archive.entries));
        files.push_back(archive.file);
    }
    std::string expected = BANNER;
    for (std::size_t from = 0; from < c.shown.size();) {
        std::size_t end = std::min(c.shown.find(' ', from), c.shown.size());
        const std::string file = c.shown.substr(from, end - from);
        const std::string bytes = read_file(file);
        const auto field = [&bytes](std::size_t at) {
            return std::uint32_t{static_cast<std::uint8_t>(bytes[at])} << 24 |
                   std::uint32_t{static_cast<std::uint8_t>(bytes[at + 1])} << 16 |
                   std::uint32_t{static_cast<std::uint8_t>(bytes[at + 2])} << 8 | static_cast<std::uint8_t>(bytes[at + 3]);
        };
        expected += info_block(file, static_cast<int>(field(8)), bytes.size(), field(12));
        from = end + 1;
    }
    EXPECT_RUN(run(c.args), expected + c.out, c.status);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files_below(""), files);
}

INSTANTIATE_TEST_SUITE_P(Words, LoadOrderWordTest, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<WordCase>& info) { return info.param.name; });

}  // namespace
