// CONFLICTS, DIFF, PATCH and MERGE: archives read together in a load
// order, each shown as LIST shows it, what is reported, the exit status,
// and the one archive PATCH and MERGE write.
#include <algorithm>
#include <map>
#include <random>

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
    std::vector<FixtureEntry> made = {};  // what argv[1] holds afterwards, when written
};

const std::vector<FixtureEntry> BASE = {{"data\\ini\\weapon.ini", "w=40"}, {"maps\\a.map", "map"}, {"old.txt", "o"}};
const std::vector<FixtureEntry> MOD = {{"Data/INI/Weapon.ini", "w=45!"}, {"MAPS\\A.MAP", "map"}, {"new.txt", "n"}};
const std::vector<FixtureEntry> MOD2 = {{"data\\ini\\weapon.ini", "w=50"}, {"new.txt", "N"}, {"new.txt", "n"}};

// Larger than the writer's buffer, which the system copies itself: every
// byte its own, so that a copy from the wrong place shows.
std::string large_data() {
    std::string bytes(1536 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 % 251);
    }
    return bytes;
}

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
    {"PatchOfOldNew", {{"base.big", BASE}, {"mod.big", MOD}}, {"patch.big", "PATCH", "base.big", "mod.big"},
     "base.big mod.big",
     "Warning: 'old.txt' is not in 'mod.big', but loading the patch after 'base.big' keeps it.\n"
     "Creating 'patch.big'\nAdding[0] 0kb 'Data/INI/Weapon.ini': Done\nAdding[1] 0kb 'new.txt': Done\n"
     "Total file count: 2\nCompleted successfully\n", 0, {{"Data/INI/Weapon.ini", "w=45!"}, {"new.txt", "n"}}},
    {"PatchOfNothing", {{"base.big", BASE}, {"same.big", {{"OLD.TXT", "o"}, {"maps/a.map", "map"}, {"data\\ini\\weapon.ini", "w=40"}}}},
     {"patch.big", "patch", "base.big", "same.big"}, "base.big same.big",
     "Error: 'same.big' adds and changes no file against 'base.big': there is nothing to put in the patch.\n", 2},
    {"PatchNeverOverAFile", {{"base.big", BASE}, {"mod.big", MOD}}, {"mod.big", "PATCH", "base.big", "mod.big"},
     "base.big mod.big",
     "Warning: 'old.txt' is not in 'mod.big', but loading the patch after 'base.big' keeps it.\n"
     "Creating 'mod.big'\nError: Could not open file.\n", 2},
    {"PatchOfOne", {{"base.big", BASE}}, {"patch.big", "PATCH", "base.big"}, "", "Error: Bad parameters.\n", 1},
    {"MergeInLoadOrder", {{"base.big", BASE}, {"mod.big", MOD}, {"list.txt", {}, "mod2.big\n"}, {"mod2.big", MOD2}},
     {"all.big", "MERGE", "base.big", "mod.big", "@list.txt"}, "base.big mod.big mod2.big",
     "Creating 'all.big'\nAdding[0] 0kb 'data\\ini\\weapon.ini': Done\nAdding[1] 0kb 'MAPS\\A.MAP': Done\n"
     "Adding[2] 0kb 'old.txt': Done\nAdding[3] 0kb 'new.txt': Done\nTotal file count: 4\nCompleted successfully\n", 0,
     {{"data\\ini\\weapon.ini", "w=50"}, {"MAPS\\A.MAP", "map"}, {"old.txt", "o"}, {"new.txt", "N"}}},
    {"MergeOfALargeEntry", {{"base.big", BASE}, {"large.big", {{"a.txt", "a"}, {"big.bin", large_data()}, {"z", "z"}}}},
     {"all.big", "MERGE", "large.big", "base.big"}, "large.big base.big",
     "Creating 'all.big'\nAdding[0] 0kb 'a.txt': Done\nAdding[1] 1536kb 'big.bin': Done\nAdding[2] 0kb 'z': Done\n"
     "Adding[3] 0kb 'data\\ini\\weapon.ini': Done\nAdding[4] 0kb 'maps\\a.map': Done\nAdding[5] 0kb 'old.txt': Done\n"
     "Total file count: 6\nCompleted successfully\n", 0,
     {{"a.txt", "a"}, {"big.bin", large_data()}, {"z", "z"}, BASE[0], BASE[1], BASE[2]}},
    {"MergeRefusesAnUnsafeName", {{"base.big", BASE}, {"evil.big", {{"..\\up.txt", "x"}}}},
     {"all.big", "MERGE", "base.big", "evil.big"}, "base.big evil.big",
     "Error: '..\\up.txt' cannot be stored: its name would be unsafe to extract.\n", 2},
    {"MergeOfNone", {}, {"all.big", "MERGE"}, "", "Error: Bad parameters.\n", 1},
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
    for (const Archive& archive : c.archives) {
        EXPECT_EQ(read_file(archive.file), archive.entries.empty() ? archive.raw : big_archive(archive.entries));
    }
    if (!c.made.empty()) {
        EXPECT_EQ(read_file(c.args[0]), big_archive(c.made));
        files.push_back(c.args[0]);
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files_below(""), files);
}

// Loading the old archive and then its patch gives every file of the new
// one, and no other but those the new one removed: MERGE of the two holds
// the new archive's files, and DIFF of the new against it reports only the
// removals. Random archives of a few names in two spellings.
TEST_F(ToolTest, MergeOfOldAndPatchGivesNew) {
    std::mt19937 random(2026);
    const char* const NAMES[] = {"a.txt", "A.TXT", "d\\b.ini", "D/B.INI", "c", "e\\f\\g.dds", "h.map"};
    auto archive = [&](std::map<std::string, std::string>* folded) {
        std::vector<FixtureEntry> entries;
        for (const char* name : NAMES) {
            std::string key = name;
            for (char& ch : key) {
                ch = ch == '/' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
            if (random() % 2 == 0 || folded->count(key) > 0) {
                continue;
            }
            (*folded)[key] = std::string(random() % 3, static_cast<char>('x' + random() % 3));
            entries.push_back({name, (*folded)[key]});
        }
        return entries;
    };
    for (int round = 0; round < 12; ++round) {
        std::map<std::string, std::string> old_files, new_files;
        const std::vector<FixtureEntry> old_entries = archive(&old_files), new_entries = archive(&new_files);
        write_file("old.big", big_archive(old_entries));
        write_file("new.big", big_archive(new_entries));
        std::filesystem::remove(at("patch.big"));
        std::filesystem::remove(at("merged.big"));
        const ToolRun patch = run({"patch.big", "PATCH", "old.big", "new.big"});
        if (patch.status == 2) {  // nothing added or changed
            EXPECT_EQ(patch.out.substr(patch.out.rfind("Error: ")),
                      "Error: 'new.big' adds and changes no file against 'old.big': there is nothing to put in the patch.\n");
            continue;
        }
        ASSERT_EQ(patch.status, 0) << patch.out;
        ASSERT_EQ(run({"merged.big", "MERGE", "old.big", "patch.big"}).status, 0);
        unsigned long removed = 0;
        for (const auto& file : old_files) {
            removed += new_files.count(file.first) == 0;
        }
        const ToolRun diff = run({"new.big", "DIFF", "merged.big"});
        const std::string counts = "Files added: " + std::to_string(removed) + ", removed: 0, changed: 0\n";
        EXPECT_NE(diff.out.find(counts), std::string::npos) << diff.out;
        EXPECT_EQ(diff.status, removed > 0 ? 3 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Words, LoadOrderWordTest, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<WordCase>& info) { return info.param.name; });

}  // namespace
