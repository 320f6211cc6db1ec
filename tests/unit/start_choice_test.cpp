// The choice of a run started from Explorer (a console of its own) over
// one started from a console, a script, a pipe or a file.
#include "cli/main/start_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int asked = 0;

bool a_file(const char* path) {
    ++asked;
    return std::string(path) == "mod.big";
}

TEST(StartChoice, WaitsOnlyOnAConsoleOfItsOwn) {
    struct Row {
        ConsoleStart console;
        int argc;
        StartChoice expected;
        int asked;  // whether the argument was looked at
    };
    const ConsoleStart own{1, true, false};
    const Row rows[] = {
        {own, 2, StartChoice::list_and_wait, 1},
        {own, 1, StartChoice::wait, 0},                            // double-clicked
        {own, 3, StartChoice::wait, 0},                            // two files dropped
        {{2, true, false}, 2, StartChoice::as_asked, 0},           // a shell shares the console
        {{1, false, false}, 2, StartChoice::as_asked, 0},          // output to a pipe or a file
        {{0, false, false}, 2, StartChoice::as_asked, 0},          // no console
        {{1, true, true}, 2, StartChoice::as_asked, 0},            // Wine on a terminal
    };
    char program[] = "bigtool";
    char archive[] = "mod.big";
    char other[] = "other.big";
    char* argv[] = {program, archive, other, nullptr};
    for (const Row& row : rows) {
        asked = 0;
        EXPECT_EQ(choose_start(row.console, row.argc, argv, a_file), row.expected) << row.argc;
        EXPECT_EQ(asked, row.asked) << row.argc;
    }
    char folder[] = "mods";
    char* not_a_file[] = {program, folder, nullptr};
    EXPECT_EQ(choose_start(own, 2, not_a_file, a_file), StartChoice::wait);
}

}  // namespace
