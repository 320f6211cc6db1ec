// The EXTRACT command's arguments: which entries, and where to.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "cli/extract/extract.h"
#include "cli/main/end_run.h"
#include "cli/main/thread_setting.h"
#include "cli/reader/reader.h"
#include "cli/text/number.h"
#include "cli/text/printable.h"
#include "lib/text/paths.h"
#include "platform/platform.h"

namespace {

// The places in the index of the entries that index arguments ask for.
// Arguments are visited last first, in any order; their places are found in
// one walk in ascending order, so that no argument walks the index again.
struct Places {
    std::unique_ptr<EntryPlace[]> list;  // by number, each number once
    std::size_t count = 0;
};

bool by_number(const EntryPlace& a, const EntryPlace& b) {
    return a.number < b.number;
}

// Ends the run when the index cannot be read. An entry missing from the
// index ends the walk: every later one is missing too, and is reported when
// its argument's turn comes, as it would be without places.
Places find_places(int argc, char** argv, std::uint32_t file_count) {
    Places places;
    places.list.reset(new (std::nothrow) EntryPlace[static_cast<std::size_t>(argc - 4)]);
    if (!places.list) {
        std::printf("Error: Failed to allocate enough memory.\n");
        end_run(2);
    }
    EntryPlace* list = places.list.get();
    std::size_t wanted = 0;
    for (int a = 3; a <= argc - 2; ++a) {
        auto n = static_cast<std::uint32_t>(strtol32(argv[a]));
        if (n < file_count) {
            list[wanted++] = {n, 0};
        }
    }
    std::sort(list, list + wanted, by_number);
    wanted = static_cast<std::size_t>(
        std::unique(list, list + wanted, [](const EntryPlace& a, const EntryPlace& b) {
            return a.number == b.number;
        }) -
        list);
    for (std::size_t i = 0; i < wanted; ++i) {
        std::optional<EntryPlace> place = find_entry_place(list[i].number);
        if (!place) {
            if (entry_lookup_failed()) {
                end_run(2);
            }
            break;
        }
        list[places.count++] = *place;
    }
    return places;
}

void return_to_place(const Places& places, std::uint32_t n) {
    const EntryPlace* begin = places.list.get();
    const EntryPlace* end = begin + places.count;
    const EntryPlace* place = std::lower_bound(begin, end, EntryPlace{n, 0}, by_number);
    if (place != end && place->number == n) {
        return_to_entry(*place);
    }
}

}  // namespace

void extract_command(int argc, char** argv, std::FILE*) {
    BigHeader header;
    get_header(&header);
    const std::int32_t file_count = header.fileCount;
    int index_arguments = argc - 4;
    if (index_arguments < 1) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    const char* outdir = argv[argc - 1];
    std::string shown;
    std::printf("Output directory: %s\nExtracting %i file(s)...\n\n", printable(outdir, shown),
                index_arguments);
    char resolved[PATH_CAPACITY];
    const char* directory = resolve_output_directory(outdir, resolved);
    if (directory != nullptr) {
        make_path(directory);  // made where the files go: one resolution serves both
    }

    // A star in the last index position means every entry, in index order.
    Extraction extraction(command_threads());
    if (argv[argc - 2][0] == '*') {
        for (std::int32_t i = 0; i < file_count; ++i) {
            if (!extraction.extract(static_cast<std::uint32_t>(i), directory)) {
                end_run(2);
            }
        }
    } else {
        const auto count = static_cast<std::uint32_t>(file_count);
        const Places places = find_places(argc, argv, count);
        for (int a = argc - 2; a >= 3; --a) {
            auto n = static_cast<std::uint32_t>(strtol32(argv[a]));
            if (n >= count) {
                extraction.skip(n);
                continue;
            }
            return_to_place(places, n);
            if (!extraction.extract(n, directory)) {
                end_run(2);
            }
        }
    }
    if (!extraction.finish()) {
        end_run(2);
    }
    close_archive();
    complete_run();
}
