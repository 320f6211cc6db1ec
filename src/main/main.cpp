// The program's entry: banner, usage, dispatch of the command word, the
// information block, and the exit status of every run.
#include <cstdio>
#include <string>

#include "archive/check_command.h"
#include "archive/reader.h"
#include "common/ascii.h"
#include "common/end_run.h"
#include "common/printable.h"
#include "create/create.h"
#include "extract/extract.h"
#include "main/front_end.h"
#include "platform/platform.h"

namespace {

// Command words match whatever the case of the letters A to Z.
bool is_command(const char* word, std::string_view command) {
    return equals_ignoring_case(word, command);
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
}

}  // namespace

int main(int argc, char** argv) {
    if (!prepare_process()) {
        end_run(2);
    }
    std::printf("bigtool: lists, extracts and creates BIG archives\n");
    std::printf("Tarvenor .BIG file container tool. Ver 1.0 BETA\n\n");
    // Before anything is opened or created: an argument that reached argv
    // as another text would name another file.
    std::string argument;
    if (inexact_argument(&argument) != 0) {
        std::string shown;
        std::printf("Error: The argument '%s' holds characters that the ANSI code page cannot "
                    "represent.\n",
                    printable(argument.c_str(), shown));
        end_run(2);
    }
    if (argc < 3) {
        // Without a command word there is nothing to run: show how to run it.
        print_usage(argc > 0 ? argv[0] : "bigtool");
        end_run(1);
    }
    if (is_command(argv[2], "CREATE")) {
        create_command(argc, argv);
    }
    std::string shown;
    std::printf("Validating '%s': ", printable(argv[1], shown));
    if (!open_archive(argv[1])) {
        end_run(2);
    }
    BigHeader header;
    if (!get_header(&header)) {
        std::printf("Failed to get header.\n");
        end_run(2);
    }
    std::printf("Done\n\n\tInformation\nFiles: %i\nSize: %lu\nStart offset: %08lX\n\n",
                header.fileCount, static_cast<unsigned long>(header.archiveSize),
                static_cast<unsigned long>(header.startOffset));
    if (is_command(argv[2], "LIST")) {
        list_command();
    }
    if (is_command(argv[2], "EXTRACT")) {
        extract_command(argc, argv, header.fileCount);
    }
    if (is_command(argv[2], "CHECK")) { check_command(); }
    std::printf("Unknown command specified.\n");
    end_run(1);
}
