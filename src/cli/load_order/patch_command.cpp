// PATCH: an archive of what a new version of an archive adds and changes,
// for loading after the old one.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/load_order/archive_set.h"
#include "cli/load_order/load_order_words.h"
#include "cli/main/end_run.h"
#include "cli/text/printable.h"

void patch_command(int argc, char** argv, std::FILE*) {
    std::vector<std::string> paths = archive_arguments(argc, argv, false);
    if (paths.size() != 2) {
        std::printf("Error: Bad parameters.\n");
        end_run(1);
    }
    ArchiveSet set;
    open_archive_set(std::move(paths), &set);
    std::vector<Holder> patch;
    std::vector<Holder> removed;
    OverlayWalk walk;
    try {
        walk = overlay_differences(set.overlay, [&](Difference difference, Holder holder) {
            (difference == Difference::removed ? removed : patch).push_back(holder);
        });
    } catch (const std::bad_alloc&) {
        walk.fault = OverlayFault::no_memory;
    }
    if (walk.fault != OverlayFault::none) {
        end_walk(set, walk);
    }
    // In the new archive's order, which is its index's.
    std::sort(patch.begin(), patch.end(), [](const Holder& a, const Holder& b) { return a.entry < b.entry; });
    std::string shown;
    for (const Holder& holder : removed) {
        std::string_view name = quoted_name(holder_name(set.overlay, holder), shown);
        std::printf("Warning: '%.*s' is not in '%s', but loading the patch after '%s' keeps it.\n",
                    static_cast<int>(name.size()), name.data(), shown_path(set.paths[1]).c_str(),
                    shown_path(set.paths[0]).c_str());
    }
    if (patch.empty()) {
        std::printf("Error: '%s' adds and changes no file against '%s': there is nothing to put in the patch.\n",
                    shown_path(set.paths[1]).c_str(), shown_path(set.paths[0]).c_str());
        end_run(2);
    }
    class Patch : public HolderPlan {
    public:
        Patch(const ArchiveSet& set, const std::vector<Holder>& holders) : HolderPlan(set), holders_(holders) {}
        std::uint32_t count() const override { return static_cast<std::uint32_t>(holders_.size()); }
        PlannedEntry entry(std::uint32_t k) const override { return planned(holders_[k]); }

    private:
        const std::vector<Holder>& holders_;
    } plan(set, patch);
    write_set_archive(argv[1], plan);
}
