// The program's entry: banner, usage, dispatch of the command word, the
// information block, and the exit status of every run.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/check/check_command.h"
#include "cli/create/create.h"
#include "cli/create/update.h"
#include "cli/extract/extract.h"
#include "cli/load_order/load_order_words.h"
#include "cli/main/end_run.h"
#include "cli/main/front_end.h"
#include "cli/main/start_choice.h"
#include "cli/main/thread_setting.h"
#include "cli/reader/reader.h"
#include "cli/text/printable.h"
#include "lib/text/ascii.h"
#include "platform/platform.h"

namespace {

// What a command word needs before it runs.
enum class Needs {
    nothing,        // CREATE: its archive does not exist yet
    archive_shown,  // the archive opened, validated and its information shown
    archive_quiet,  // the same without a word on standard output, which is the data's
    // Shown, and opened to be replaced: one such run at a time per archive.
    archive_to_change,
    // Many archives, which the word opens and shows itself, every one
    // shared, argv[1] too: the reader's exclusive open would keep a second
    // open of one file out.
    archives_shown,
};

// Where standard output goes: the console's text, or data (rows for
// scripts, an entry's bytes), which sends the console's text to standard
// error.
enum class Output {
    console,
    data,             // always
    data_after_dash,  // when the last argument is "-"
};

struct Command {
    std::string_view word;
    Needs needs;
    Output output;
    void (*run)(int argc, char** argv, std::FILE* data);  // ends the run
};

// Every word takes the arguments and, where standard output carries data,
// the stream it goes to (null otherwise), and ends the run.
const Command COMMANDS[] = {
    {"CREATE", Needs::nothing, Output::console, create_command},
    {"LIST", Needs::archive_shown, Output::console, list_command},
    {"EXTRACT", Needs::archive_shown, Output::console, extract_command},
    {"FIND", Needs::archive_quiet, Output::data, find_command},
    {"GET", Needs::archive_shown, Output::data_after_dash, get_command},
    {"CHECK", Needs::archive_shown, Output::console, check_command},
    {"UPDATE", Needs::archive_to_change, Output::console, update_command},
    {"DELETE", Needs::archive_to_change, Output::console, delete_command},
    {"COMPARE", Needs::archive_shown, Output::console, compare_command},
    {"CONFLICTS", Needs::archives_shown, Output::console, conflicts_command},
    {"DIFF", Needs::archives_shown, Output::console, diff_command},
    {"PATCH", Needs::archives_shown, Output::console, patch_command},
    {"MERGE", Needs::archives_shown, Output::console, merge_command},
};

// Command words match whatever the case of the letters A to Z.
const Command* command_for(const char* word) {
    for (const Command& command : COMMANDS) {
        if (equals_ignoring_case(word, command.word)) {
            return &command;
        }
    }
    return nullptr;
}

bool takes_output_for_data(const Command& command, int argc, char** argv) {
    return command.output == Output::data ||
           (command.output == Output::data_after_dash && std::strcmp(argv[argc - 1], "-") == 0);
}

// The data words' output is the data: it must reach somewhere, and never
// the archive being read, which it would break (`FIND >> mod.big`). Ends
// the run after saying why, on standard error, where the text now goes.
void check_data_output(std::FILE* data, const char* archive) {
    if (standard_output_was_closed()) {
        std::printf("Error: Standard output is closed; the data would be lost.\n");
        end_run(2);
    }
    if (writes_into_held_file(data)) {
        std::string shown;
        std::printf("Error: Standard output is the archive '%s'; writing there would break it.\n",
                    printable(archive, shown));
        end_run(2);
    }
}

void print_usage(const char* program) {
    std::string shown;
    std::printf(
        "Usage: %s <filename.big> [command] ...\n\n\tCommands:\n\n"
        "EXTRACT [index1] [index2] [index3] ... [output directory] -  extract file(s)\n"
        "  if [index1] is * then all files will be extracted.\n\n"
        "LIST  -  list all files.\n\n"
        "CREATE [input directory]  -  creates a new BIG file.\n\n",
        printable(program, shown));
    std::printf(
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
        "MERGE [archive] ...  -  creates a BIG file of what the archives give in this load order.\n\n");
}

bool names_file(const char* path) {
    return path_kind(path) != PathKind::missing && !is_directory(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (!prepare_process()) {
        end_run(2);
    }
    // Started from Explorer, whose console closes with the run: a file
    // dropped on the program is listed, and the user reads the outcome.
    char list_word[] = "LIST";
    char* listing[] = {nullptr, nullptr, list_word, nullptr};
    const StartChoice start = choose_start(console_start(), argc, argv, names_file);
    if (start != StartChoice::as_asked) {
        keep_console_open();
    }
    if (start == StartChoice::list_and_wait) {
        listing[0] = argv[0];
        listing[1] = argv[1];
        argc = 3;
        argv = listing;
    }
    const Command* command = argc >= 3 ? command_for(argv[2]) : nullptr;
    std::FILE* data = nullptr;
    if (command != nullptr && takes_output_for_data(*command, argc, argv)) {
        data = take_standard_output();
        if (data == nullptr) {
            std::printf("Error: Could not write to standard output.\n");
            end_run(2);
        }
    }
    const bool shown = command == nullptr || command->needs != Needs::archive_quiet;
    if (shown) {
        std::printf("bigtool: lists, extracts and creates BIG archives\n");
        std::printf("Tarvenor .BIG file container tool. Ver 1.0 BETA\n\n");
    }
    // Before anything is opened or created: an argument that reached argv
    // as another text would name another file.
    std::string argument;
    if (inexact_argument(&argument) != 0) {
        std::string shown_argument;
        std::printf("Error: The argument '%s' holds characters that the ANSI code page cannot "
                    "represent.\n",
                    printable(argument.c_str(), shown_argument));
        end_run(2);
    }
    if (!read_thread_setting()) {
        end_run(2);
    }
    if (argc < 3) {
        // Without a command word there is nothing to run: show how to run it.
        print_usage(argc > 0 ? argv[0] : "bigtool");
        end_run(1);
    }
    if (command != nullptr && (command->needs == Needs::nothing || command->needs == Needs::archives_shown)) {
        command->run(argc, argv, data);
    }
    std::string shown_archive;
    if (shown) {
        std::printf("Validating '%s': ", printable(argv[1], shown_archive));
    }
    const bool changes = command != nullptr && command->needs == Needs::archive_to_change;
    if (!open_archive(argv[1], changes ? OpenMode::change_existing : OpenMode::read_existing)) {
        end_run(2);
    }
    BigHeader header;
    if (!get_header(&header)) {
        std::printf("Failed to get header.\n");
        end_run(2);
    }
    if (shown) {
        print_information(header);
    }
    if (data != nullptr) {
        check_data_output(data, argv[1]);
    }
    if (command != nullptr) {
        command->run(argc, argv, data);
    }
    std::printf("Unknown command specified.\n");
    end_run(1);
}
