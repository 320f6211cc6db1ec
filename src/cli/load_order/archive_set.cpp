// See archive_set.h.
#include "cli/load_order/archive_set.h"

#include <cstdio>

#include "cli/main/end_run.h"
#include "cli/main/front_end.h"
#include "cli/reader/selection.h"
#include "cli/text/printable.h"
#include "lib/api/handle.h"

std::vector<std::string> archive_arguments(int argc, char** argv, bool from_first) {
    std::vector<std::string> paths;
    for (int a = from_first ? 1 : 3; a < argc; ++a) {
        if (a == 2) {
            continue;  // the command word
        }
        if (argv[a][0] != '@') {
            paths.emplace_back(argv[a]);
            continue;
        }
        std::vector<std::string> lines;
        if (!read_list_lines(argv[a] + 1, &lines)) {
            end_run(2);
        }
        if (lines.empty()) {
            std::string shown;
            std::printf("Error: The list file '%s' holds no archive.\n", printable(argv[a] + 1, shown));
            end_run(2);
        }
        for (std::string& line : lines) {
            paths.push_back(std::move(line));
        }
    }
    return paths;
}

std::string shown_path(const std::string& path) {
    std::string storage;
    return std::string(printable(path, storage));
}

void open_archive_set(std::vector<std::string> paths, ArchiveSet* set) {
    if (paths.size() > OVERLAY_MOST_ARCHIVES) {
        std::printf("Error: At most %lu archives can be read together.\n",
                    static_cast<unsigned long>(OVERLAY_MOST_ARCHIVES));
        end_run(2);
    }
    set->paths = std::move(paths);
    for (const std::string& path : set->paths) {
        std::printf("Validating '%s': ", shown_path(path).c_str());
        bt_archive* archive = nullptr;
        if (bt_open(&archive, path.c_str()) != BT_OK) {
            std::printf("Error: %s\n", bt_last_errmsg());
            end_run(2);
        }
        set->archives.emplace_back(archive, bt_close);
        print_information(archive->table.header);
    }
    std::uint64_t entries = 0;
    for (const auto& archive : set->archives) {
        entries += archive->table.entries.size();
    }
    // A failed reservation leaves the overlay to grow as it needs.
    overlay_reserve(set->overlay, entries);
    for (const auto& archive : set->archives) {
        if (overlay_add(set->overlay, archive->table, archive_source(archive.get())) != OverlayFault::none) {
            std::printf("Error: Failed to allocate enough memory.\n");
            end_run(2);
        }
    }
}

void end_walk(const ArchiveSet& set, const OverlayWalk& walk) {
    switch (walk.fault) {
    case OverlayFault::unreadable: {
        std::string shown;
        std::string_view name = quoted_name(holder_name(set.overlay, walk.at), shown);
        std::printf("Error: Entry %lu '%.*s' in '%s': its data cannot be read.\n",
                    static_cast<unsigned long>(walk.at.entry), static_cast<int>(name.size()), name.data(),
                    shown_path(set.paths[walk.at.archive]).c_str());
        break;
    }
    case OverlayFault::read_failed: std::printf("Error: Could not read from BIG file.\n"); break;
    default: std::printf("Error: Failed to allocate enough memory.\n"); break;
    }
    end_run(2);
}
