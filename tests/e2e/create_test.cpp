// CREATE: the walk's choice and order of files, the archive's exact bytes,
// the input directory in its various forms, and round trips through EXTRACT.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/big_writer.h"
#include "support/test_data.h"
#include "support/tool_test.h"

namespace fs = std::filesystem;

namespace {

// The archive of a tree holding a.txt "abc" and sub\b.dat (empty), byte by byte.
const std::string WORKED_ARCHIVE(
    "BIGF" "\x3B\0\0\0" "\0\0\0\x02" "\0\0\0\x38"
    "\0\0\0\x38" "\0\0\0\x03" "a.txt\0"
    "\0\0\0\x3B" "\0\0\0\0" "sub\\b.dat\0"
    "L225\0\0\0\0"
    "abc",
    59);

// The archive of an empty tree: header and end record only.
const std::string EMPTY_ARCHIVE(
    "BIGF" "\x18\0\0\0" "\0\0\0\0" "\0\0\0\x18"
    "L225\0\0\0\0",
    24);

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A path written with '/' as the tool's argument on this host.
std::string argument(const std::string& relative) {
    std::string text = relative;
    std::replace(text.begin(), text.end(), '/', static_cast<char>(fs::path::preferred_separator));
    return text;
}

class CreateTest : public ToolTest {
protected:
    void write_worked_tree(const std::string& root) const {
        write_file(root + "/a.txt", "abc");
        write_file(root + "/sub/b.dat", "");
    }

    std::string adding(int n, unsigned long kb, const std::string& path) const {
        return "Adding[" + std::to_string(n) + "] " + std::to_string(kb) + "kb '" + local(path) +
               "': Done\n";
    }

    std::string worked_output(const std::string& input, const std::string& archive = "x.big") const {
        return create_opening(input, archive) + adding(0, 0, input + "/a.txt") +
               adding(1, 0, input + "/sub/b.dat") + "Total file count: 2\nCompleted successfully\n";
    }

    // Whether the folder can still be listed, whatever its permissions say.
    static bool listable(const fs::path& folder) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        return !error;
    }
};

TEST_F(CreateTest, WorkedExample) {
    write_worked_tree("in");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, CommandWordInAnyCase) {
    write_worked_tree("in");
    EXPECT_RUN(run({"x.big", "create", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, DotFilesAndDotDirectoriesAreSkipped) {
    write_worked_tree("in");
    write_file("in/.hidden", "h");
    write_file("in/.dir/inner.txt", "i");
    write_file("in/sub/.x", "x");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

// Names by their letters with case folded, as bytes; a directory's files
// come where the directory does.
TEST_F(CreateTest, ListingOrder) {
    const std::vector<std::string> names = {"10", "9", "a.txt", "Alpha", "B.txt", "c/inner.txt",
                                            "zeta", "_x.txt"};
    // Written in another order than expected, so that creation order cannot pass for it.
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        write_file("in/" + *it, "<" + *it + ">");
    }
    std::string expected = create_opening("in");
    std::vector<FixtureEntry> entries;
    int n = 0;
    for (const std::string& name : names) {
        expected += adding(n++, 0, "in/" + name);
        std::string stored = name;
        std::replace(stored.begin(), stored.end(), '/', '\\');
        entries.push_back({stored, "<" + name + ">"});
    }
    expected += "Total file count: 8\nCompleted successfully\n";
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), expected, 0);
    EXPECT_TRUE(read_file("x.big") == big_archive(entries));
}

// Attributes beside the directory bit change nothing: a read-only folder
// is descended into and a read-only file archived.
TEST_F(CreateTest, ReadOnlyItemsAreArchived) {
    write_worked_tree("in");
    const fs::perms read_only = fs::perms::owner_read | fs::perms::owner_exec |
                                fs::perms::group_read | fs::perms::others_read;
    fs::permissions(at("in/sub/b.dat"), read_only);
    fs::permissions(at("in/sub"), read_only);
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, SizesShownInWholeKilobytes) {
    write_file("in/a", std::string(1023, 'a'));
    write_file("in/b", std::string(1024, 'b'));
    write_file("in/c", std::string(2000, 'c'));
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + adding(0, 0, "in/a") + adding(1, 1, "in/b") + adding(2, 1, "in/c") +
                   "Total file count: 3\nCompleted successfully\n",
               0);
}

// One copy chunk exactly, and one byte more, through CREATE and back.
TEST_F(CreateTest, ChunkSizedFilesRoundTrip) {
    const std::string exact = patterned_bytes(5242880, 7);
    const std::string over = patterned_bytes(5242881, 8);
    write_file("in/chunk.bin", exact);
    write_file("in/chunk1.bin", over);
    for (const CopyWay& way : copy_ways()) {
        SCOPED_TRACE(way.name);
        fs::remove(at("x.big"));
        fs::remove_all(at("out"));
        EXPECT_RUN(run({"x.big", "CREATE", "in"}, way.options),
                   create_opening("in") + adding(0, 5120, "in/chunk.bin") + adding(1, 5120, "in/chunk1.bin") +
                       "Total file count: 2\nCompleted successfully\n",
                   0);
        EXPECT_TRUE(read_file("x.big") == big_archive({{"chunk.bin", exact}, {"chunk1.bin", over}}));
        ToolRun extracted = run({"x.big", "EXTRACT", "*", "out"}, way.options);
        EXPECT_EQ(extracted.status, 0) << extracted.out;
        EXPECT_TRUE(read_file("out/chunk.bin") == exact);
        EXPECT_TRUE(read_file("out/chunk1.bin") == over);
    }
}

TEST_F(CreateTest, ExistingArchiveIsLeftAlone) {
    write_worked_tree("in");
    write_file("x.big", "not to be touched");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), create_opening("in") + "Error: Could not open file.\n", 2);
    EXPECT_EQ(read_file("x.big"), "not to be touched");
}

TEST_F(CreateTest, EmptyTreeGivesHeaderAndEndRecord) {
    fs::create_directories(at("in/empty/emptier"));
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Total file count: 0\nCompleted successfully\n", 0);
    EXPECT_TRUE(read_file("x.big") == EMPTY_ARCHIVE);
    EXPECT_RUN(run({"x.big", "LIST"}),
               BANNER + "Validating 'x.big': Error: Does not contain any file.\n", 2);
}

TEST_F(CreateTest, MissingInputDirectoryCreatesNothing) {
    EXPECT_RUN(run({"x.big", "CREATE", "missing"}),
               BANNER + "Import directory: " + local("missing") +
                   "\n\nError: Could not open input directory.\n",
               2);
    EXPECT_FALSE(exists("x.big"));
}

TEST_F(CreateTest, PlainFileAsInputDirectoryCreatesNothing) {
    write_file("plain", "abc");
    EXPECT_RUN(run({"x.big", "CREATE", "plain"}),
               BANNER + "Import directory: " + local("plain") +
                   "\n\nError: Could not open input directory.\n",
               2);
    EXPECT_FALSE(exists("x.big"));
}

TEST_F(CreateTest, CommandWordIsTheInputDirectoryWhenAlone) {
    write_worked_tree("CREATE");
    EXPECT_RUN(run({"x.big", "CREATE"}), worked_output("CREATE"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, LastArgumentIsTheInputDirectory) {
    write_worked_tree("in");
    write_file("other/c.txt", "c");
    EXPECT_RUN(run({"x.big", "CREATE", "other", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

// The archive is left out of its own walk, and the other files go in.
TEST_F(CreateTest, ArchiveInsideItsOwnInputDirectory) {
    write_file("in/a.txt", "abc");
    EXPECT_RUN(run({"in/x.big", "CREATE", "in"}),
               create_opening("in", "in/x.big") + "Skipping '" + local("in/x.big") +
                   "': it is the archive itself.\n" + adding(0, 0, "in/a.txt") + "Total file count: 1\n"
                   "Completed successfully\n",
               0);
    EXPECT_TRUE(read_file("in/x.big") == big_archive({{"a.txt", "abc"}}));
}

// The names are the same whatever form the input directory was given in.
TEST_F(CreateTest, NamesRelativeToTheInputDirectoryInAnyForm) {
    write_worked_tree("in");
    const std::vector<std::string> forms = {"in/", "./in", "in/.", "in/./", "in/sub/..",
                                            "../" + folder().filename().string() + "/in"};
    int n = 0;
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        std::string archive = "form" + std::to_string(n++) + ".big";
        EXPECT_RUN(run({archive, "CREATE", argument(form)}), worked_output(form, archive), 0);
        EXPECT_TRUE(read_file(archive) == WORKED_ARCHIVE);
    }
}

TEST_F(CreateTest, AbsoluteInputDirectory) {
    write_worked_tree("in");
    const std::string absolute = local("in");
    EXPECT_RUN(run({"x.big", "CREATE", absolute}),
               create_opening("in") +
                   adding(0, 0, "in/a.txt") + adding(1, 0, "in/sub/b.dat") +
                   "Total file count: 2\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, InputDirectoryThroughSymbolicLink) {
    if (host_is_windows()) {
        GTEST_SKIP() << "symbolic links are a POSIX case";
    }
    write_worked_tree("in");
    fs::create_directory_symlink("in", at("link"));
    EXPECT_RUN(run({"x.big", "CREATE", "link"}), worked_output("link"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, UnlistableDirectoryFails) {
    if (host_is_windows()) {
        GTEST_SKIP() << "permission bits are a POSIX case";
    }
    write_file("in/a.txt", "abc");
    write_file("in/locked/b.txt", "b");
    fs::permissions(at("in/locked"), fs::perms::none);
    if (listable(at("in/locked"))) {
        GTEST_SKIP() << "this user lists the folder whatever its permissions";
    }
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Error: Could not list directory '" + local("in/locked") + "'.\n", 2);
}

TEST_F(CreateTest, FifoAndDanglingLinkArePassedOver) {
    if (host_is_windows()) {
        GTEST_SKIP() << "FIFOs and symbolic links are a POSIX case";
    }
    write_worked_tree("in");
    std::string fifo = at("in/pipe").string();
    if (std::system(("mkfifo '" + fifo + "'").c_str()) != 0) {
        GTEST_SKIP() << "mkfifo is not available";
    }
    fs::create_symlink("nowhere", at("in/sub/dangling"));
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, LinkLoopsEnd) {
    if (host_is_windows()) {
        GTEST_SKIP() << "symbolic links are a POSIX case";
    }
    write_worked_tree("in");
    fs::create_directory_symlink(".", at("in/self"));
    fs::create_directory_symlink("..", at("in/sub/up"));
    EXPECT_RUN(run({"x.big", "CREATE", "in"}), worked_output("in"), 0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

TEST_F(CreateTest, UnreadableFileEndsTheRun) {
    if (host_is_windows()) {
        GTEST_SKIP() << "permission bits are a POSIX case";
    }
    write_file("in/a.txt", "abc");
    write_file("in/b.txt", "b");
    fs::permissions(at("in/b.txt"), fs::perms::none);
    if (std::ifstream(at("in/b.txt")).is_open()) {
        GTEST_SKIP() << "this user reads the file whatever its permissions";
    }
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + adding(0, 0, "in/a.txt") + "Error: Could not open '" + local("in/b.txt") +
                   "'.\n" + "Error: Failed adding file!\n",
               2);
    EXPECT_FALSE(exists("x.big"));
}

TEST_F(CreateTest, ArchiveInMissingDirectory) {
    write_worked_tree("in");
    EXPECT_RUN(run({"nodir/x.big", "CREATE", "in"}),
               create_opening("in", "nodir/x.big") + "Error: Could not open file.\n", 2);
    EXPECT_FALSE(exists("nodir"));
}

// A path longer than the path buffers is quoted by its first 259 bytes.
TEST_F(CreateTest, InputDirectoryTooLong) {
    const std::string input = std::string(150, 'i') + "/" + std::string(150, 'j');
    EXPECT_RUN(run({"x.big", "CREATE", input}),
               BANNER + "Error: Path too long: '" + input.substr(0, 259) + "...'.\n", 2);
    EXPECT_FALSE(exists("x.big"));
}

// A walked path that would not fit the path buffers ends the run.
TEST_F(CreateTest, PathTooLongInTheTree) {
    // The directory fits the 260-byte path buffers, the file in it does not,
    // wherever the test's folder is.
    const std::string deep =
        "in/" + std::string(250 - local("in").size(), 'd') + "/" + std::string(80, 'f');
    write_file("in/a.txt", "abc");
    write_file(deep, "x");
    if (!exists(deep)) {
        GTEST_SKIP() << "this host cannot make a path that long";
    }
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Error: Path too long: '" + local(deep).substr(0, 259) + "...'.\n", 2);
}

// The index's entries must stay below 1,048,576 bytes, and the end record
// still follows the last one: 5,017 entries of 209 bytes and a last one
// that ends one byte below the limit, then at it.
TEST_F(CreateTest, IndexCapacity) {
    if (local("in").size() + 1 + 200 >= 260) {
        GTEST_SKIP() << "the test's folder is too deep for names of 200 bytes";
    }
    // Links to one file are cheaper to make than thousands of files.
    write_file("seed", "");
    fs::create_directories(at("in"));
    for (int i = 0; i < 5017; ++i) {
        std::string name = std::to_string(100000 + i);
        fs::path path = at("in/" + name + std::string(200 - name.size(), 'x'));
        std::error_code error;
        fs::create_hard_link(at("seed"), path, error);
        if (error) {
            std::ofstream{path};
        }
    }
    const std::string last = "in/z" + std::string(12, 'y');  // 9 + 13 bytes: 1,048,575 in all
    write_file(last, "");
    ToolRun result = run({"x.big", "CREATE", "in"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(ends_with(result.out, "Total file count: 5018\nCompleted successfully\n"));
    const std::string archive = read_file("x.big");
    ASSERT_EQ(archive.size(), 1048599u);
    EXPECT_EQ(archive.substr(0, 16),
              std::string("BIGF" "\x17\x00\x10\x00" "\x00\x00\x13\x9A" "\x00\x10\x00\x17", 16));
    EXPECT_EQ(archive.substr(16 + 1048575), END_RECORD);

    fs::rename(at(last), at(last + "y"));
    EXPECT_RUN(run({"y.big", "CREATE", "in"}), create_opening("in", "y.big") + "\nFatal: Out of memory!\n", 2);
}

// Real files of this machine, through CREATE and EXTRACT *, byte for byte.
TEST_F(CreateTest, RealFilesRoundTrip) {
    std::size_t copied = 0;
    std::error_code error;
    auto copy = [&](const fs::path& from, const std::string& to) {
        if (fs::is_regular_file(from, error) && fs::file_size(from, error) < 1024 * 1024 &&
            fs::copy_file(from, at(to), error)) {
            ++copied;
        }
    };
    fs::create_directories(at("in/licenses"));
    for (const auto& item : fs::directory_iterator("/usr/share/common-licenses", error)) {
        std::string name = item.path().filename().string();
        if (name[0] != '.') {
            copy(item.path(), "in/licenses/" + name);
        }
    }
    std::vector<fs::path> packages;
    for (const auto& item : fs::directory_iterator("/usr/share/doc", error)) {
        if (item.path().filename().string()[0] != '.') {
            packages.push_back(item.path());
        }
    }
    std::sort(packages.begin(), packages.end());
    for (const fs::path& package : packages) {
        if (copied >= 300) {
            break;
        }
        if (fs::is_regular_file(package / "copyright", error)) {
            fs::create_directories(at("in/doc/" + package.filename().string()));
            copy(package / "copyright", "in/doc/" + package.filename().string() + "/copyright");
        }
    }
    if (copied < 100) {
        GTEST_SKIP() << "this machine has too few files under /usr/share to copy";
    }
    const std::vector<std::string> files = files_below("in");
    ASSERT_EQ(files.size(), copied);

    ToolRun created = run({"x.big", "CREATE", "in"});
    EXPECT_EQ(created.status, 0);
    EXPECT_EQ(created.err, "");
    EXPECT_EQ(created.out.rfind(create_opening("in"), 0), 0u) << created.out;
    EXPECT_TRUE(ends_with(created.out, "Total file count: " + std::to_string(copied) +
                                           "\nCompleted successfully\n"));
    EXPECT_EQ(count_of(created.out, "': Done\n"), copied);

    ToolRun extracted = run({"x.big", "EXTRACT", "*", "out"});
    EXPECT_EQ(extracted.status, 0);
    EXPECT_EQ(extracted.err, "");
    EXPECT_TRUE(ends_with(extracted.out, "Completed successfully\n"));
    EXPECT_EQ(count_of(extracted.out, "': OK\n"), copied);

    ASSERT_EQ(files_below("out"), files);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        EXPECT_TRUE(read_file("out/" + file) == read_file("in/" + file));
    }
}

}  // namespace

namespace {

// On POSIX a backslash is an ordinary character of a file name, but in an
// archive it separates folders: such a name must not become an entry that
// climbs out of the folder it is extracted into.
TEST_F(CreateTest, NameThatWouldClimbOutIsRefused) {
    if (host_is_windows()) {
        GTEST_SKIP() << "backslashes in file names are a POSIX case";
    }
    write_file("in/a.txt", "abc");
    write_file("in/x\\..\\..\\evil", "x");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Error: '" + local("in/x\\..\\..\\evil") +
                   "' cannot be stored: its name would be unsafe to extract.\n",
               2);
    EXPECT_FALSE(exists("x.big"));
}

TEST_F(CreateTest, HarmlessBackslashNameIsStoredAsFolders) {
    if (host_is_windows()) {
        GTEST_SKIP() << "backslashes in file names are a POSIX case";
    }
    write_file("in/sub\\b.dat", "");
    write_file("in/a.txt", "abc");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + adding(0, 0, "in/a.txt") + adding(1, 0, "in/sub\\b.dat") +
                   "Total file count: 2\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == WORKED_ARCHIVE);
}

}  // namespace

namespace {

// What a file's name may become in the archive. On POSIX a name may hold
// what Windows forbids: a colon, backslashes.
TEST_F(CreateTest, NamesItStoresAndNamesItRefuses) {
    if (host_is_windows()) {
        GTEST_SKIP() << "colons and backslashes in file names are a POSIX case";
    }
    // Only a letter before the colon makes a drive.
    write_file("in/5:00.txt", "five");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + adding(0, 0, "in/5:00.txt") + "Total file count: 1\nCompleted successfully\n", 0);
    EXPECT_TRUE(read_file("x.big") == big_archive({{"5:00.txt", "five"}}));
    EXPECT_EQ(run({"x.big", "EXTRACT", "*", "out"}).status, 0);
    EXPECT_EQ(read_file("out/5:00.txt"), "five");

    struct Refused {
        const char* file;
        const char* why;
    };
    const std::vector<Refused> refused = {
        {"C:x", "its name would be unsafe to extract"},
        {"trail\\", "its name would have an empty part"},
        {"a\\\\b", "its name would have an empty part"},
        {"\\lead", "its name would be unsafe to extract"},
        {"sub/\\lead", "its name would have an empty part"},
    };
    for (const Refused& bad : refused) {
        SCOPED_TRACE(bad.file);
        fs::remove_all(at("bad"));
        write_file("bad/ok.txt", "fine");
        write_file(std::string("bad/") + bad.file, "x");
        EXPECT_RUN(run({"bad.big", "CREATE", "bad"}),
                   create_opening("bad", "bad.big") + "Error: '" + local(std::string("bad/") + bad.file) +
                       "' cannot be stored: " + bad.why + ".\n",
                   2);
        EXPECT_FALSE(exists("bad.big"));
    }
}

// Two files that would get one name would come out of the archive as one.
TEST_F(CreateTest, TwoFilesUnderOneNameAreRefused) {
    if (host_is_windows()) {
        GTEST_SKIP() << "backslashes in file names are a POSIX case";
    }
    write_file("in/a/b", "folder a, file b");
    write_file("in/a\\b", "file a\\b");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Error: '" + local("in/a\\b") + "' cannot be stored: '" + local("in/a/b") +
                   "' has the same name in the archive.\n",
               2);
    EXPECT_FALSE(exists("x.big"));
}

// Letter case makes different names; Windows would extract them onto one
// file, but an archive may hold them.
TEST_F(CreateTest, NamesDifferingInCaseAreBothStored) {
    if (host_is_windows()) {
        GTEST_SKIP() << "a Windows folder cannot hold both";
    }
    write_file("in/a.txt", "lower");
    write_file("in/A.txt", "upper");
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + adding(0, 0, "in/A.txt") + adding(1, 0, "in/a.txt") +
                   "Total file count: 2\nCompleted successfully\n",
               0);
    EXPECT_TRUE(read_file("x.big") == big_archive({{"A.txt", "upper"}, {"a.txt", "lower"}}));
}

// Each level holds two links to the next: 30 levels make 2^30 paths, far
// more than any run could walk. The walk stops at its bound instead.
TEST_F(CreateTest, LinksThatMultiplyTheTreeEndTheWalk) {
    if (host_is_windows()) {
        GTEST_SKIP() << "symbolic links are a POSIX case";
    }
    // 2^18 - 1 folders to walk, and at most 17 links in a path: Linux may
    // count a path's links twice when a busy machine makes it look the path
    // up again, and refuses past 40 (ELOOP), which 30 levels could reach.
    const int levels = 17;
    // Appended rather than added to a literal, which GCC 12's -Wrestrict
    // misreads in Release builds.
    auto level_folder = [](int level) {
        std::string name = "d";
        name += std::to_string(level);
        return name;
    };
    fs::create_directories(at("in"));
    for (int level = 1; level <= levels; ++level) {
        fs::create_directories(at(level_folder(level)));
    }
    for (int level = 0; level < levels; ++level) {
        const std::string here = level == 0 ? "in" : level_folder(level);
        const std::string next = "../" + level_folder(level + 1);
        fs::create_directory_symlink(next, at(here + "/a"));
        fs::create_directory_symlink(next, at(here + "/b"));
    }
    EXPECT_RUN(run({"x.big", "CREATE", "in"}),
               create_opening("in") + "Error: More than 65536 directories to walk: links in the input directory "
                            "may make it repeat itself.\n",
               2);
    EXPECT_FALSE(exists("x.big"));
}

}  // namespace
