// UPDATE, DELETE and COMPARE: what each changes or reports, and the promise
// that the archive's name holds the old archive byte for byte or the whole
// new one, whatever fails and whenever the run is killed.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "support/big_writer.h"
#include "support/host.h"
#include "support/run_tool.h"
#include "support/test_data.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

struct FolderFile {
    std::string path;  // below in/, with '/'
    std::string data;
};

// One folder against one archive: what COMPARE reports and what UPDATE
// does. {in/x} in the expected text stands for the local path of in/x.
struct UpdateCase {
    const char* name;
    std::string archive;
    std::vector<FolderFile> folder;
    std::string compared;  // COMPARE's lines after the opening
    int compareStatus;
    std::string updated;  // UPDATE's
    int updateStatus;
    std::string result;  // the archive afterwards; empty: unchanged
    bool posixOnly = false;  // two names that differ only in case cannot both exist on Windows
};

// Longer than the index window: kept, it is read in pieces. The second
// fills CREATE's index so that no entry fits after it; a change goes past.
const std::string LONG_NAME(100000, 'n');
const std::string FULL_NAME(1048560, 'n');
const std::string SHOWN_LONG = std::string(259, 'n') + "...";

std::string outside(std::string archive) {
    patch_be32(archive, 16, 0xFFFFFF00);  // entry 0's data offset
    return archive;
}

const std::vector<UpdateCase> UPDATE_CASES = {
    {"ReplaceAddKeep", big_archive({{"a.txt", "abc"}, {"sub\\b.dat", ""}, {"old.txt", "o"}}),
     {{"a.txt", "new!"}, {"sub/b.dat", ""}, {"c.txt", "cc"}},
     "Differs[0] 'a.txt' from '{in/a.txt}'\nOnly in archive[2] 'old.txt'\nOnly in folder '{in/c.txt}'\n"
     "Error: 2 difference(s) found.\n", 3,
     "Replacing[0] 0kb '{in/a.txt}': Done\nAdding[3] 0kb '{in/c.txt}': Done\n"
     "Files kept: 2, replaced: 1, added: 1\nCompleted successfully\n", 0,
     big_archive({{"a.txt", "new!"}, {"sub\\b.dat", ""}, {"old.txt", "o"}, {"c.txt", "cc"}})},
    {"SameBytesChangeNothing", big_archive({{"a.txt", "abc"}, {"sub\\b.dat", ""}}),
     {{"a.txt", "abc"}, {"sub/b.dat", ""}}, "Completed successfully\n", 0,
     "Files kept: 2, replaced: 0, added: 0\nCompleted successfully\n", 0, ""},
    {"NamesMatchAsTheGameLooksThemUp", big_archive({{"Data/Units.INI", "1234"}, {"x.txt", "x"}}),
     {{"data/units.ini", "5678"}},
     "Differs[0] 'Data/Units.INI' from '{in/data/units.ini}'\nOnly in archive[1] 'x.txt'\n"
     "Error: 1 difference(s) found.\n", 3,
     "Replacing[0] 0kb '{in/data/units.ini}': Done\nFiles kept: 1, replaced: 1, added: 0\n"
     "Completed successfully\n", 0,
     big_archive({{"Data/Units.INI", "5678"}, {"x.txt", "x"}})},
    {"FileForTwoEntries", big_archive({{"A.txt", "1"}, {"a.txt", "2"}}), {{"a.txt", "3"}},
     "Error: '{in/a.txt}' matches both entry 0 'A.txt' and entry 1 'a.txt'.\n", 2,
     "Error: '{in/a.txt}' matches both entry 0 'A.txt' and entry 1 'a.txt'.\n", 2, ""},
    {"TwoFilesForAnEntry", big_archive({{"a.txt", "1"}}), {{"A.txt", "2"}, {"a.txt", "3"}},
     "Error: Entry 0 'a.txt' matches both '{in/A.txt}' and '{in/a.txt}'.\n", 2,
     "Error: Entry 0 'a.txt' matches both '{in/A.txt}' and '{in/a.txt}'.\n", 2, "", true},
    {"LongNameKept", big_archive({{LONG_NAME, "x"}, {"a.txt", "abc"}}), {{"a.txt", "xyz"}},
     "Only in archive[0] '" + SHOWN_LONG + "'\nDiffers[1] 'a.txt' from '{in/a.txt}'\n"
     "Error: 1 difference(s) found.\n", 3,
     "Replacing[1] 0kb '{in/a.txt}': Done\nFiles kept: 1, replaced: 1, added: 0\nCompleted successfully\n", 0,
     big_archive({{LONG_NAME, "x"}, {"a.txt", "xyz"}})},
    {"IndexPastCreatesLimit", big_archive({{FULL_NAME, "x"}}), {{"b.txt", "b"}},
     "Only in archive[0] '" + SHOWN_LONG + "'\nOnly in folder '{in/b.txt}'\nError: 1 difference(s) found.\n", 3,
     "Adding[1] 0kb '{in/b.txt}': Done\nFiles kept: 1, replaced: 0, added: 1\nCompleted successfully\n", 0,
     big_archive({{FULL_NAME, "x"}, {"b.txt", "b"}})},
    // Data of 1 MiB or more, kept or from a file, goes by the system's copy.
    {"LargeDataCopied",
     big_archive({{"big.bin", patterned_bytes(1536 * 1024, 1)}, {"a.txt", "abc"}, {"kept.bin", patterned_bytes(1100 * 1024, 2)}}),
     {{"a.txt", patterned_bytes(1200 * 1024, 3)}},
     "Only in archive[0] 'big.bin'\nDiffers[1] 'a.txt' from '{in/a.txt}'\nOnly in archive[2] 'kept.bin'\n"
     "Error: 1 difference(s) found.\n", 3,
     "Replacing[1] 1200kb '{in/a.txt}': Done\nFiles kept: 2, replaced: 1, added: 0\nCompleted successfully\n", 0,
     big_archive({{"big.bin", patterned_bytes(1536 * 1024, 1)}, {"a.txt", patterned_bytes(1200 * 1024, 3)},
                  {"kept.bin", patterned_bytes(1100 * 1024, 2)}})},
    // UPDATE keeps an entry with no file: no difference.
    {"OnlyInArchiveIsNoDifference", big_archive({{"a.txt", "abc"}, {"b.txt", "b"}}), {{"a.txt", "abc"}},
     "Only in archive[1] 'b.txt'\nCompleted successfully\n", 0,
     "Files kept: 2, replaced: 0, added: 0\nCompleted successfully\n", 0, ""},
    {"KeptDataOutsideTheArchive", outside(big_archive({{"a.txt", "abc"}, {"b.txt", "b"}})),
     {{"a.txt", "abc"}, {"b.txt", "B"}},
     "Error: Entry 0 'a.txt': its data cannot be read.\n", 2,
     "Error: Entry 0 'a.txt': its data cannot be read.\n", 2, ""},
};

const std::string CHECKING_ALL = "Checking all files...\n\n";
const std::string THREE = big_archive({{"a.txt", "abc"}, {"sub\\b.dat", ""}, {"c.txt", "cc"}});

class ChangeTest : public ToolTest {
protected:
    std::string opening(const std::string& archive, const std::string& command) const {
        const auto field = [&archive](std::size_t at) {
            std::uint32_t value = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                value = value << 8 | static_cast<std::uint8_t>(archive[at + i]);
            }
            return value;
        };
        std::string text = BANNER + info_block("x.big", static_cast<int>(field(8)), archive.size(), field(12));
        return command == "DELETE" ? text : text + "Import directory: " + local("in") + "\n\n";
    }

    std::string with_paths(std::string text) const {
        for (std::size_t at = text.find("{in/"); at != std::string::npos; at = text.find("{in/", at)) {
            std::size_t end = text.find('}', at);
            std::string path = local(text.substr(at + 1, end - at - 1));
            text.replace(at, end - at + 1, path);
            at += path.size();
        }
        return text;
    }

    // The folder holds x.big and in/ alone: no new file was left.
    void expect_nothing_left() const {
        std::vector<std::string> expected;
        for (const std::string& file : files_below("")) {
            if (file.rfind("in/", 0) != 0) {
                expected.push_back(file);
            }
        }
        EXPECT_EQ(expected, (std::vector<std::string>{"x.big"}));
    }

    // What UPDATE of x.big prints when it replaces a.txt alone.
    std::string replaced_a() const {
        return opening(THREE, "UPDATE") + "Replacing[0] 0kb '" + local("in/a.txt") +
               "': Done\nFiles kept: 2, replaced: 1, added: 0\nCompleted successfully\n";
    }

    // `args` run in x.big's folder, held before `choice` while `while_held`
    // runs, or killed there; its standard error has a file of its own, for
    // `while_held` may run the tool too.
    ToolRun held_run(const std::vector<std::string>& args, const std::string& choice,
                     const std::function<void()>& while_held, bool kill = false);
    ToolRun held_update(const std::string& choice, const std::function<void()>& while_held, bool kill = false) {
        return held_run({"x.big", "UPDATE", "in"}, choice, while_held, kill);
    }
};

ToolRun ChangeTest::held_run(const std::vector<std::string>& args, const std::string& choice,
                             const std::function<void()>& while_held, bool kill) {
    PauseGate gate(at("pause").string());
    RunOptions options;
    options.env = {"BIGTOOL_PAUSE=" + choice, "BIGTOOL_PAUSE_GATE=" + gate.name()};
    if (kill) {
        options.killAtGate = gate.name();
    }
    std::atomic<bool> ended{false};
    ToolRun result;
    const std::string err = folder().string() + "-held.err";
    std::thread tool([&] {
        result = run_tool(args, folder().string(), err, options);
        ended = true;
    });
    if (!kill && gate.wait_for_run(ended)) {
        while_held();
        gate.release();
    } else {
        EXPECT_TRUE(kill) << "the run never reached its pause";
    }
    tool.join();
    fs::remove(err);
    return result;
}

class UpdateTest : public ChangeTest, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateTest, CompareReportsWhatUpdateChanges) {
    const UpdateCase& c = GetParam();
    if (c.posixOnly && host_is_windows()) {
        GTEST_SKIP() << "Windows folders cannot hold two names that differ only in case";
    }
    write_file("x.big", c.archive);
    for (const FolderFile& file : c.folder) {
        write_file("in/" + file.path, file.data);
    }
    EXPECT_RUN(run({"x.big", "COMPARE", "in"}), opening(c.archive, "COMPARE") + with_paths(c.compared),
               c.compareStatus);
    EXPECT_TRUE(read_file("x.big") == c.archive);
    EXPECT_RUN(run({"x.big", "UPDATE", "in"}), opening(c.archive, "UPDATE") + with_paths(c.updated),
               c.updateStatus);
    EXPECT_TRUE(read_file("x.big") == (c.result.empty() ? c.archive : c.result));
    expect_nothing_left();
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateTest, ::testing::ValuesIn(UPDATE_CASES),
                         [](const ::testing::TestParamInfo<UpdateCase>& info) { return info.param.name; });


struct DeleteCase {
    const char* name;
    std::vector<std::string> patterns;
    std::string out;
    int status;
    std::string result;  // empty: unchanged
};

const std::vector<DeleteCase> DELETE_CASES = {
    {"OneByName", {"SUB/B.DAT"}, "Removing[1] 0kb 'sub\\b.dat'\nFiles kept: 2, removed: 1\nCompleted successfully\n", 0,
     big_archive({{"a.txt", "abc"}, {"c.txt", "cc"}})},
    {"ByWildcard", {"*.txt"},
     "Removing[0] 0kb 'a.txt'\nRemoving[2] 0kb 'c.txt'\nFiles kept: 1, removed: 2\nCompleted successfully\n", 0,
     big_archive({{"sub\\b.dat", ""}})},
    {"UnmatchedPattern", {"a.txt", "nope"}, "Error: No entry matches 'nope'.\n", 2, ""},
    {"EveryEntry", {"*"}, "Error: Every entry matches; an archive with no entry cannot be read.\n", 2, ""},
    {"NoPattern", {}, "Error: Bad parameters.\n", 1, ""},
};

TEST_F(ChangeTest, RemovesWhatThePatternsSelect) {
    for (const DeleteCase& c : DELETE_CASES) {
        SCOPED_TRACE(c.name);
        write_file("x.big", THREE);
        std::vector<std::string> args = {"x.big", "DELETE"};
        args.insert(args.end(), c.patterns.begin(), c.patterns.end());
        EXPECT_RUN(run(args), opening(THREE, "DELETE") + c.out, c.status);
        EXPECT_TRUE(read_file("x.big") == (c.result.empty() ? THREE : c.result));
        expect_nothing_left();
    }
}

// More files than are read ahead at once, empty, small and too large to be
// read ahead: CREATE stores them in order, COMPARE finds the one changed
// among them, UPDATE replaces that one alone.
TEST_F(ChangeTest, ManyFilesReadAheadInOrder) {
    std::vector<FixtureEntry> files;
    std::string adding;
    for (int i = 0; i < 1500; ++i) {
        // Appended: GCC 12 misreads "d" + std::to_string(...) (-Wrestrict) in Release.
        std::string folder = "d";
        folder += std::to_string(i / 500);
        char name[16];
        std::snprintf(name, sizeof name, "f%04d", i);
        const std::size_t size = i % 250 == 7 ? 70000 : static_cast<std::size_t>(i * 37 % 700);
        files.push_back({folder + "\\" + name, patterned_bytes(size, static_cast<std::uint32_t>(i))});
        write_file("in/" + folder + "/" + name, files.back().data);
        adding += "Adding[";
        adding += std::to_string(i);
        adding += "] ";
        adding += std::to_string(size / 1024);
        adding += "kb '" + local("in/" + folder + "/" + name) + "': Done\n";
    }
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + adding + "Total file count: 1500\nCompleted successfully\n", 0);
    const std::string archive = big_archive(files);
    ASSERT_TRUE(read_file("x.big") == archive);
    EXPECT_RUN(run({"x.big", "COMPARE", "in"}), opening(archive, "COMPARE") + "Completed successfully\n", 0);
    files[1234].data[5] ^= 1;
    write_file("in/d2/f1234", files[1234].data);
    EXPECT_RUN(run({"x.big", "COMPARE", "in"}),
               opening(archive, "COMPARE") + "Differs[1234] 'd2\\f1234' from '" + local("in/d2/f1234") +
                   "'\nError: 1 difference(s) found.\n",
               3);
    EXPECT_RUN(run({"x.big", "UPDATE", "in"}),
               opening(archive, "UPDATE") + "Replacing[1234] 0kb '" + local("in/d2/f1234") +
                   "': Done\nFiles kept: 1499, replaced: 1, added: 0\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == big_archive(files));
}

// Every operation of an UPDATE and a DELETE failed in turn, with either way
// of copying: each run ends as the normal one or fails with status 2, the
// archive byte for byte as it was and no new file left.
TEST_F(ChangeTest, FailsCleanlyAtEveryOperation) {
    SKIP_WITHOUT_FAULT_SEAM();
    write_file("in/a.txt", patterned_bytes(3000, 5));
    write_file("in/sub/new.bin", "new");
    const std::string updated =
        big_archive({{"a.txt", patterned_bytes(3000, 5)}, {"sub\\b.dat", ""}, {"c.txt", "cc"}, {"sub\\new.bin", "new"}});
    const std::vector<std::pair<std::vector<std::string>, std::string>> commands = {
        {{"x.big", "UPDATE", "in"}, updated},
        {{"x.big", "DELETE", "a.txt"}, big_archive({{"sub\\b.dat", ""}, {"c.txt", "cc"}})}};
    for (const auto& [args, result] : commands) {
        for (const CopyWay& way : copy_ways()) {
            SCOPED_TRACE(args[1] + " " + way.name);
            write_file("x.big", THREE);
            const ToolRun normal = run(args, way.options);
            ASSERT_EQ(normal.status, 0) << normal.out;
            ASSERT_TRUE(read_file("x.big") == result);
            int k = 1;
            for (; k < 500; ++k) {
                write_file("x.big", THREE);
                fs::remove(at("fired"));
                RunOptions options = way.options;
                options.env.push_back("BIGTOOL_FAULT=any:" + std::to_string(k));
                options.env.push_back("BIGTOOL_FAULT_FIRED=" + at("fired").string());
                ToolRun failed = run(args, options);
                const bool fired = exists("fired");
                fs::remove(at("fired"));
                expect_nothing_left();
                if (failed.status == 0) {
                    EXPECT_RUN(failed, normal.out, 0);
                    EXPECT_TRUE(read_file("x.big") == result);
                    if (!fired) {
                        break;
                    }
                    continue;
                }
                std::size_t error = failed.out.find("Error: ");
                ASSERT_NE(error, std::string::npos) << "operation " << k << ": " << failed.out;
                EXPECT_EQ(failed.out.substr(0, error), normal.out.substr(0, error)) << k;
                EXPECT_RUN(failed, failed.out, 2);
                EXPECT_TRUE(read_file("x.big") == THREE) << "operation " << k;
            }
            EXPECT_GT(k, 10);
            EXPECT_LT(k, 500);
        }
    }
}

const std::string REPLACED = big_archive({{"a.txt", "ABC"}, {"sub\\b.dat", ""}, {"c.txt", "cc"}});

// Killed just before the new archive takes the old one's name, the old
// one stays; just after, the new one is there whole.
TEST_F(ChangeTest, KilledBeforeOrAfterTheRenameLeavesOneWholeArchive) {
    if (host_is_windows()) {
        GTEST_SKIP() << "the run is killed with a POSIX signal";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    write_file("in/a.txt", "ABC");
    for (const auto& [choice, expected] : {std::pair{"replace:1", THREE}, std::pair{"replace:2", REPLACED}}) {
        SCOPED_TRACE(choice);
        write_file("x.big", THREE);
        EXPECT_EQ(held_update(choice, [] {}, true).status, 128 + 9);
        EXPECT_TRUE(read_file("x.big") == expected);
        for (const std::string& file : files_below("")) {
            if (file.rfind("x.big.tmp-", 0) == 0) {
                // What the run had made before it was killed: not the archive's name.
                EXPECT_TRUE(read_file(file) == REPLACED);
                fs::remove(at(file));
            }
        }
    }
}

// While a CHECK holds the archive open, any other reader runs beside it,
// and so does a change, which leaves the CHECK the archive it opened.
TEST_F(ChangeTest, ReadersShareTheArchive) {
    SKIP_WITHOUT_FAULT_SEAM();
    write_file("x.big", THREE);
    write_file("in/a.txt", "abc");
    write_file("in/sub/b.dat", "");
    write_file("in/c.txt", "cc");
    const std::string shown = BANNER + info_block("x.big", 3, THREE.size(), 70);
    const std::string out = extract_opening("out", 1);
    const std::string ok = "Completed successfully\n";
    const std::vector<std::tuple<std::vector<std::string>, std::string>> readers = {
        {{"x.big", "LIST"}, shown + "Listing all files...\n\nIndex\t\tSize\tFileName\n0                 3  a.txt\n"
                            "1                 0  sub\\b.dat\n2                 2  c.txt\n" + ok},
        {{"x.big", "FIND", "*.txt"}, "0\t3\t70\ta.txt\n2\t2\t73\tc.txt\n"},
        {{"x.big", "CHECK"}, shown + CHECKING_ALL + ok},
        {{"x.big", "COMPARE", "in"}, opening(THREE, "COMPARE") + ok},
        {{"x.big", "GET", "c.txt", "out"}, shown + out + extracting(2, 2, "c.txt", "out/c.txt") + "OK\n" + ok},
        {{"x.big", "EXTRACT", "0", "out"}, shown + out + extracting(0, 3, "a.txt", "out/a.txt") + "OK\n" + ok},
    };
    ToolRun check = held_run({"x.big", "CHECK"}, "read:1", [&] {
        for (const auto& [args, expected] : readers) {
            SCOPED_TRACE(args[1]);
            EXPECT_RUN(run(args), expected, 0);
        }
        EXPECT_EQ(files_below("out"), (std::vector<std::string>{"a.txt", "c.txt"}));
        if (!host_is_windows()) {
            write_file("in/a.txt", "ABC");
            EXPECT_RUN(run({"x.big", "UPDATE", "in"}), replaced_a(), 0);
            EXPECT_TRUE(read_file("x.big") == REPLACED);
        }
    });
    EXPECT_RUN(check, shown + CHECKING_ALL + ok, 0);
}

// Two changes of one archive: the second is refused while the first holds
// the archive, up to the moment its new archive has the name, so that
// neither works from contents the other replaces.
TEST_F(ChangeTest, ChangesExcludeEachOtherUntilTheRename) {
    SKIP_WITHOUT_FAULT_SEAM();
    write_file("x.big", THREE);
    write_file("in/a.txt", "ABC");
    ToolRun first = held_update("replace:1", [&] {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"x.big", "DELETE", "c.txt"}, {"x.big", "UPDATE", "in"}}) {
            SCOPED_TRACE(args[1]);
            EXPECT_RUN(run(args), BANNER + "Validating 'x.big': Error: Could not open file.\nAnother program holds 'x.big'.\n", 2);
        }
    });
    EXPECT_RUN(first, replaced_a(), 0);
    EXPECT_TRUE(read_file("x.big") == REPLACED);
    expect_nothing_left();
    if (host_is_windows()) {
        return;  // the DELETE's handle, not sharing deletion, keeps the UPDATE from renaming
    }
    // A DELETE that opened the old archive, and locks it only once an
    // UPDATE has replaced it, works from the new one.
    write_file("x.big", THREE);
    ToolRun second = held_run({"x.big", "DELETE", "c.txt"}, "lock:1",
                              [&] { EXPECT_RUN(run({"x.big", "UPDATE", "in"}), replaced_a(), 0); });
    EXPECT_RUN(second,
               opening(REPLACED, "DELETE") + "Removing[2] 0kb 'c.txt'\nFiles kept: 2, removed: 1\n"
                                             "Completed successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == big_archive({{"a.txt", "ABC"}, {"sub\\b.dat", ""}}));
    expect_nothing_left();
}

// Archives a change must not, or could not, replace as it did: one marked
// read-only, one whose name leaves no room for ".tmp-N", one inside the
// folder it is updated from.
TEST_F(ChangeTest, ReadOnlyLongNamedOrInItsOwnFolder) {
    struct Case {
        const char* name;
        std::string archive;
        std::vector<std::string> args;
        bool readOnly;
        std::string after;  // after the information block
        int status;
        std::string result;
    };
    const std::string long_name = std::string(251, 'n') + ".big";
    const std::string import = "Import directory: " + local("in") + "\n\n";
    const std::string replacing = "Replacing[0] 0kb '" + local("in/a.txt") + "': Done\n";
    const std::string ok = "Files kept: 2, replaced: 1, added: 0\nCompleted successfully\n";
    const std::string skipping = "Skipping '" + local("in/x.big") + "': it is the archive itself.\n";
    std::vector<Case> cases = {
        {"read_only_update", "x.big", {"UPDATE", "in"}, true, import + "Error: 'x.big' is read-only. It is unchanged.\n", 2, THREE},
        {"read_only_delete", "x.big", {"DELETE", "c.txt"}, true, "Error: 'x.big' is read-only. It is unchanged.\n", 2, THREE},
        {"name_too_long_for_the_suffix", long_name, {"UPDATE", "in"}, false, import + replacing + ok, 0, REPLACED},
        {"in_its_own_folder", "in/x.big", {"UPDATE", "in"}, false, import + skipping + replacing + ok, 0, REPLACED},
        {"compared_in_its_own_folder", "in/x.big", {"COMPARE", "in"}, false, import + skipping + "Completed successfully\n", 0, REPLACED},
    };
    if (host_is_windows()) {  // Windows' limit is the whole path's, which the test folder's length decides
        cases.erase(cases.begin() + 2);
    }
    write_file("in/a.txt", "ABC");
    write_file("in/sub/b.dat", "");
    write_file("in/c.txt", "cc");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) != "compared_in_its_own_folder") {
            write_file(c.archive, THREE);
        }
        if (c.readOnly) {
            fs::permissions(at(c.archive), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        }
        std::vector<std::string> args = {c.archive};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_RUN(run(args), BANNER + info_block(c.archive, 3, THREE.size(), 70) + c.after, c.status);
        EXPECT_TRUE(read_file(c.archive) == c.result);
        fs::permissions(at(c.archive), fs::perms::owner_write, fs::perm_options::add);
    }
    std::vector<std::string> left = files_below("");
    left.erase(std::remove(left.begin(), left.end(), long_name), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"in/a.txt", "in/c.txt", "in/sub/b.dat", "in/x.big", "x.big"}));
}

// A program that holds the archive open keeps Windows from replacing it.
TEST_F(ChangeTest, ArchiveHeldOpenIsNotReplaced) {
    if (!host_is_windows()) {
        GTEST_SKIP() << "POSIX replaces a file that others hold open; they read on in the old one";
    }
    SKIP_WITHOUT_FAULT_SEAM();
    write_file("in/a.txt", "ABC");
    write_file("x.big", THREE);
    std::ifstream holder;
    ToolRun result = held_update("replace:1", [&] { holder.open(at("x.big"), std::ios::binary); });
    EXPECT_RUN(result,
               opening(THREE, "UPDATE") + "Replacing[0] 0kb '" + local("in/a.txt") + "': Done\n" +
                   "Error: Could not replace 'x.big': another program has it open. It is unchanged.\n",
               2);
    holder.close();
    EXPECT_TRUE(read_file("x.big") == THREE);
    expect_nothing_left();
}

TEST_F(ChangeTest, DiskFillsUp) {
    fs::create_directory(at("disk"));
    TmpfsMount disk(at("disk").string(), 64 * 1024, false);
    if (!disk.failure().empty()) {
        GTEST_SKIP() << disk.failure();
    }
    write_file("disk/x.big", THREE);
    // Large enough for the system's copy, which fails part way.
    write_file("in/big.bin", patterned_bytes(1536 * 1024, 3));
    EXPECT_RUN(run_in("disk", {"x.big", "UPDATE", local("in")}),
               BANNER + info_block("x.big", 3, THREE.size(), 16 + 3 * 9 + 5 + 9 + 5 + 8) + "Import directory: " +
                   local("in") + "\n\n" + "Adding[3] 1536kb '" + local("in/big.bin") +
                   "': Error: Could not write to BIG file.\n",
               2);
    EXPECT_TRUE(read_file("disk/x.big") == THREE);
    EXPECT_EQ(files_below("disk"), (std::vector<std::string>{"x.big"}));
}

// A link at the archive's path is followed: the file it leads to is
// replaced, with its permissions, and the link stays.
TEST_F(ChangeTest, LinkAtTheArchivesPathStays) {
    if (host_is_windows()) {
        GTEST_SKIP() << "Wine makes no symbolic links for Windows programs";
    }
    write_file("in/a.txt", "ABC");
    write_file("real/x.big", THREE);
    fs::permissions(at("real/x.big"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real/x.big", at("x.big"));
    EXPECT_RUN(run({"x.big", "UPDATE", "in"}),
               opening(THREE, "UPDATE") + "Replacing[0] 0kb '" + local("in/a.txt") + "': Done\n" +
                   "Files kept: 2, replaced: 1, added: 0\nCompleted successfully\n",
               0);
    EXPECT_TRUE(fs::is_symlink(at("x.big")));
    EXPECT_TRUE(read_file("real/x.big") == REPLACED);
    EXPECT_EQ(fs::status(at("real/x.big")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(files_below("real"), (std::vector<std::string>{"x.big"}));
}

}  // namespace
