// The GET command: the entries whose names match, extracted as EXTRACT
// extracts them, or the one that matches written to standard output. Every
// pattern is resolved and every selected name checked in one walk of the
// index before anything is made or written; a second walk writes.
#include <cstdio>

#include "cli/extract/extract.h"
#include "cli/main/end_run.h"
#include "cli/main/thread_setting.h"
#include "cli/reader/reader.h"
#include "cli/reader/selection.h"
#include "cli/text/printable.h"

namespace {

// The one selected entry's bytes to standard output; ends the run.
[[noreturn]] void write_to_output(std::uint32_t n, std::FILE* data) {
    BigEntry entry = walked_entry(n);
    std::string shown;
    std::string_view name = quoted_name(entry.name, shown);
    std::printf("Extracting[%lu] %lu bytes from '%.*s' to standard output: ", static_cast<unsigned long>(n),
                static_cast<unsigned long>(entry_data_size(entry)), static_cast<int>(name.size()),
                name.data());
    if (!copy_buffer_ready()) {
        end_run(2);
    }
    switch (write_entry_data(entry, data, copy_buffer(), COPY_CHUNK)) {
    case DataCopy::copied: break;
    case DataCopy::seek_failed: std::printf("Error: Could not set file pointer.\n"); end_run(2);
    case DataCopy::read_failed: std::printf("Error: Could not read from BIG file.\n"); end_run(2);
    case DataCopy::write_failed: std::printf("Error: Could not write to standard output.\n"); end_run(2);
    }
    if (std::fflush(data) != 0) {
        std::printf("Error: Could not write to standard output.\n");
        end_run(2);
    }
    std::printf("OK\n");
    close_archive();
    complete_data_run(data, true);
}

}  // namespace

void get_command(int argc, char** argv, std::FILE* data) {
    if (argc < 5) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    const char* outdir = argv[argc - 1];
    Selection selection;
    if (!read_selection(argv + 3, argc - 4, &selection)) {
        end_run(2);
    }
    char resolved[PATH_CAPACITY];
    const char* directory = data != nullptr ? nullptr : resolve_output_directory(outdir, resolved);

    BigHeader header;
    get_header(&header);
    const auto count = static_cast<std::uint32_t>(header.fileCount);
    int selected = 0;
    std::uint32_t first = 0;
    for (std::uint32_t n = 0; n < count; ++n) {
        if (!selects_first(selection, n, walked_entry(n))) {
            continue;
        }
        first = selected++ == 0 ? n : first;
        // Standard output takes any name; a file must be one EXTRACT writes.
        if (data == nullptr) {
            std::optional<BigEntry> entry = entry_to_extract(n);
            if (!entry || !target_fits(*entry, directory)) {
                end_run(2);
            }
        }
    }
    if (report_unmatched(selection) > 0) {
        end_run(2);
    }
    if (data != nullptr) {
        if (selected != 1) {
            std::printf("Error: %i entries match; standard output takes one.\n", selected);
            end_run(2);
        }
        write_to_output(first, data);
    }

    std::string shown;
    std::printf("Output directory: %s\nExtracting %i file(s)...\n\n", printable(outdir, shown), selected);
    if (directory != nullptr) {
        make_path(directory);
    }
    Extraction extraction(command_threads());
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = extraction.walked(n);
        if (was_selected(selection, n) && !extraction.write(n, entry, directory)) {
            end_run(2);
        }
    }
    if (!extraction.finish()) {
        end_run(2);
    }
    close_archive();
    complete_run();
}
