// UPDATE and COMPARE: the folder walked as CREATE walks it, each file held
// against the entry of its name. COMPARE reports what UPDATE would change.
#include <cstdio>
#include <string>

#include "cli/create/create.h"
#include "cli/create/rewrite.h"
#include "cli/create/tree_match.h"
#include "cli/create/update.h"
#include "cli/main/end_run.h"
#include "cli/main/thread_setting.h"
#include "cli/reader/reader.h"
#include "cli/reader/selection.h"
#include "cli/text/printable.h"
#include "lib/text/limits.h"
#include "lib/threads/work_pool.h"

namespace {

// Both take one folder, after the command word, and match it whole before
// a line is printed or a byte read.
std::uint32_t entry_count() {
    BigHeader header;
    get_header(&header);
    return static_cast<std::uint32_t>(header.fileCount);
}

void take_folder(int argc, char** argv, char* input_dir, TreeMatch* match, WorkPool& pool) {
    if (argc != 4) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    resolve_input_directory(argv[3], input_dir);
    leave_out_of_walk(argv[1]);
    share_walk_with(&pool);
    if (!walk_for_match(input_dir, match)) {
        end_run(2);
    }
    match_entries(*match, entry_count());
}

// Whether the file that entry `n` stands for holds other bytes; ends the run
// when either cannot be read.
bool differs(TreeMatch& match, std::uint32_t file, std::uint32_t n, const BigEntry& entry, ReadAhead& ahead) {
    if (match.files[file].size != entry_data_size(entry)) {
        return true;
    }
    if (!entry_data_readable(n, entry)) {
        end_run(2);
    }
    switch (same_bytes(match, file, n, entry, &ahead)) {
    case Sameness::same: return false;
    case Sameness::different: return true;
    case Sameness::failed: end_run(2);
    }
    return true;
}

}  // namespace

void update_command(int argc, char** argv, std::FILE*) {
    // A reader that went away is a failed write, which keeps the old archive.
    keep_running_when_output_closes();
    char input_dir[PATH_CAPACITY];
    TreeMatch match;
    WorkPool pool(command_threads());
    take_folder(argc, argv, input_dir, &match, pool);
    refuse_read_only(argv[1]);
    unsigned long replaced = 0;
    const std::uint32_t count = entry_count();
    {
        // Its buffers go before the rewrite reads ahead in buffers of its own.
        ReadAhead ahead(pool, readable_files(match), INVALID_FILE, archive_for_workers(pool));
        for (std::uint32_t n = 0; n < count; ++n) {
            BigEntry entry = walked_entry(n);
            std::uint32_t file = file_for_entry(match, n);
            bool replace = file != NO_MATCH && differs(match, file, n, entry, ahead);
            if (!replace && !entry_data_readable(n, entry)) {
                end_run(2);
            }
            std::string path = replace ? file_path(match, file) : std::string();
            plan_entry(entry, replace ? path.c_str() : nullptr, replace ? match.files[file].size : 0);
            replaced += replace ? 1 : 0;
        }
    }
    unsigned long added = 0;
    for (std::uint32_t file = 0; file < match.files.size(); ++file) {
        if (match.entryOf[file] != NO_MATCH) {
            continue;
        }
        plan_new_entry(match.files[file].name, file_path(match, file), match.files[file].size);
        ++added;
    }
    // Nothing to change: the archive stays as it is, not even rewritten.
    if (replaced + added > 0) {
        replace_archive(argv[1]);
    }
    close_archive();
    std::printf("Files kept: %lu, replaced: %lu, added: %lu\n", count - replaced, replaced, added);
    complete_run();
}

void compare_command(int argc, char** argv, std::FILE*) {
    char input_dir[PATH_CAPACITY];
    TreeMatch match;
    WorkPool pool(command_threads());
    take_folder(argc, argv, input_dir, &match, pool);
    ReadAhead ahead(pool, readable_files(match), INVALID_FILE, archive_for_workers(pool));
    std::string shown;
    std::string shown_path;
    int found = 0;
    const std::uint32_t count = entry_count();
    for (std::uint32_t n = 0; n < count; ++n) {
        BigEntry entry = walked_entry(n);
        std::uint32_t file = file_for_entry(match, n);
        if (file == NO_MATCH) {
            std::string_view name = quoted_name(entry.name, shown);
            // UPDATE keeps it: shown, but no difference.
            std::printf("Only in archive[%lu] '%.*s'\n", static_cast<unsigned long>(n),
                        static_cast<int>(name.size()), name.data());
        } else if (differs(match, file, n, entry, ahead)) {
            std::string_view name = quoted_name(entry.name, shown);
            std::string path = file_path(match, file);
            std::printf("Differs[%lu] '%.*s' from '%s'\n", static_cast<unsigned long>(n),
                        static_cast<int>(name.size()), name.data(), printable(path.c_str(), shown_path));
            ++found;
        }
    }
    for (std::uint32_t file = 0; file < match.files.size(); ++file) {
        if (match.entryOf[file] == NO_MATCH) {
            std::string path = file_path(match, file);
            std::printf("Only in folder '%s'\n", printable(path.c_str(), shown_path));
            ++found;
        }
    }
    close_archive();
    if (found > 0) {
        std::printf("Error: %i difference(s) found.\n", found);
        end_run(3);
    }
    complete_run();
}
