// The front end and LIST: the banner and usage, command words, the listing
// itself. Broken archives, through LIST and EXTRACT alike, are in
// malformed_test.cpp.
#include "support/big_writer.h"
#include "support/tool_test.h"

namespace {

// The usage of the three first words, exactly as it always was, then a
// paragraph for each word added since.
const std::string USAGE_TAIL =
    " <filename.big> [command] ...\n\n\tCommands:\n\n"
    "EXTRACT [index1] [index2] [index3] ... [output directory] -  extract file(s)\n"
    "  if [index1] is * then all files will be extracted.\n\n"
    "LIST  -  list all files.\n\n"
    "CREATE [input directory]  -  creates a new BIG file.\n\n"
    "FIND [pattern] ...  -  list the matching files for scripts: index, size, offset, name.\n"
    "  no pattern lists all; * matches any text, ? one character; @file reads patterns.\n\n"
    "GET [pattern] ... [output directory]  -  extract the files whose names match.\n"
    "  if [output directory] is - then the one matching file goes to standard output.\n\n"
    "CHECK  -  check the archive and every file's data.\n\n"
    "UPDATE [input directory]  -  replace and add files from a directory, in one step.\n"
    "  files are matched to entries by name; entries without a file are kept.\n\n"
    "DELETE [pattern] ...  -  remove the matching files, in one step.\n\n"
    "COMPARE [input directory]  -  show what UPDATE would change; exit status 3 if anything.\n\n"
    "CONFLICTS [archive] ...  -  show the files that archives later in the load order hide\n"
    "  with other data; exit status 3 if any. @file reads archive paths.\n\n"
    "DIFF [new archive]  -  show the files added, removed or changed in it; exit status 3 if any.\n\n"
    "PATCH [old archive] [new archive]  -  creates a BIG file of what the new one adds or changes.\n\n"
    "MERGE [archive] ...  -  creates a BIG file of what the archives give in this load order.\n\n";

const std::vector<FixtureEntry> TWO_ENTRIES = {{"a.txt", "abc"}, {"sub\\b.dat", ""}};

class ListTest : public ToolTest {};

TEST_F(ListTest, NoArgumentsShowsUsage) {
    EXPECT_RUN(run({}), BANNER + "Usage: " + tool_path() + USAGE_TAIL, 1);
}

TEST_F(ListTest, ArchiveWithoutCommandShowsUsage) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big"}), BANNER + "Usage: " + tool_path() + USAGE_TAIL, 1);
}

TEST_F(ListTest, WorkedExample) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    const std::string expected = BANNER +
                                 "Validating 'x.big': Done\n\n\tInformation\nFiles: 2\nSize: 59\n"
                                 "Start offset: 00000038\n\n"
                                 "Listing all files...\n\nIndex\t\tSize\tFileName\n"
                                 "0                 3  a.txt\n"
                                 "1                 0  sub\\b.dat\n"
                                 "Completed successfully\n";
    EXPECT_RUN(run({"x.big", "LIST"}), expected, 0);
    EXPECT_RUN(run({"x.big", "list"}), expected, 0);
    EXPECT_RUN(run({"x.big", "LiSt"}), expected, 0);
}

TEST_F(ListTest, ColumnsOfWideNumbers) {
    std::vector<FixtureEntry> entries;
    for (int i = 0; i < 12; ++i) {
        // Appended, not "f" + std::to_string(i): GCC 12 at -O2 and above warns
        // falsely of overlapping copies (-Wrestrict) inside that operator+.
        std::string name = "f";
        name += std::to_string(i);
        entries.push_back({name, std::string(static_cast<std::size_t>(i) * 1000, 'x')});
    }
    write_file("x.big", big_archive(entries));
    ToolRun result = run({"x.big", "LIST"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("\n11            11000  f11\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\n0                 0  f0\n"), std::string::npos) << result.out;
}

TEST_F(ListTest, UnknownCommandAfterValidation) {
    write_file("x.big", big_archive(TWO_ENTRIES));
    EXPECT_RUN(run({"x.big", "SHOW"}),
               BANNER + info_block("x.big", 2, 59, 0x38) + "Unknown command specified.\n", 1);
}

TEST_F(ListTest, UnknownCommandOnInvalidArchiveFailsValidationFirst) {
    write_file("x.big", "nothing like an archive");
    EXPECT_RUN(run({"x.big", "SHOW"}),
               BANNER + "Validating 'x.big': Error: This is not a tarvenor BIG file.\n", 2);
}

TEST_F(ListTest, MissingArchive) {
    EXPECT_RUN(run({"none.big", "LIST"}),
               BANNER + "Validating 'none.big': Error: Could not open file.\n", 2);
}

TEST_F(ListTest, DirectoryIsNotAnArchive) {
    std::filesystem::create_directory(at("folder.big"));
    EXPECT_RUN(run({"folder.big", "LIST"}),
               BANNER + "Validating 'folder.big': Error: Could not open file.\n", 2);
}

}  // namespace
