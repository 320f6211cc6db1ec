// MERGE: one archive that holds what a load order of archives gives, each
// name once, with the data of the archive that wins.
#include <cstdio>
#include <string>

#include "cli/load_order/archive_set.h"
#include "cli/load_order/load_order_words.h"
#include "cli/main/end_run.h"

void merge_command(int argc, char** argv, std::FILE*) {
    std::vector<std::string> paths = archive_arguments(argc, argv, false);
    if (paths.empty()) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    ArchiveSet set;
    open_archive_set(std::move(paths), &set);
    // The winners, straight from the overlay: nothing more is held per name.
    class Winners : public HolderPlan {
    public:
        using HolderPlan::HolderPlan;
        std::uint32_t count() const override { return static_cast<std::uint32_t>(set_.overlay.names.size()); }
        PlannedEntry entry(std::uint32_t k) const override { return planned(overlay_winner(set_.overlay, k)); }
    } winners(set);
    write_set_archive(argv[1], winners);
}
