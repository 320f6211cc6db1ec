// The traversal that both passes of a build share, so that the i-th file of
// the data pass is the one that got index entry i: the library's walk, its
// folders listed by the calls the test seam counts, its faults printed.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/create/create.h"
#include "cli/text/printable.h"
#include "lib/text/ascii.h"
#include "lib/text/paths.h"
#include "lib/writer/folder_walk.h"
#include "platform/listed_items.h"
#include "platform/platform.h"

namespace {

// The archive being written or read, which no walk takes for a file of
// the tree.
struct LeftOut {
    bool known = false;
    std::string name;  // its last component
    FileIdentity identity{};
};
LeftOut left_out;

WorkPool* helpers_of_walks = nullptr;

// Whether the file at `path`, named `name`, is the archive. Only a file of
// the archive's name, letter case aside, costs a look.
bool is_the_archive(const char* name, const char* path) {
    FileIdentity identity;
    return left_out.known && equals_ignoring_case(name, left_out.name) && file_identity(path, &identity) &&
           identity.volume == left_out.identity.volume && identity.file == left_out.identity.file;
}

// The walk's folders listed through dir_open, held open (for its link loop
// check) until the walk leaves them.
class CountedWalk final : public FolderVisitor {
public:
    explicit CountedWalk(TreeVisitor& visitor) : visitor_(visitor) {}
    ~CountedWalk() override {
        while (!open_.empty()) {
            leave();
        }
    }

    ListStatus list(const char* folder, ListedItems* listed, FolderIdentity*) override {
        const ListDetail detail = visitor_.wants_sizes() ? ListDetail::with_sizes : ListDetail::types_only;
        DirListing* listing = nullptr;
        const ListStatus status = dir_open(folder, detail, &listing, helpers_of_walks);
        if (status == ListStatus::listed) {
            open_.push_back(listing);
            *listed = std::move(listing->listed);
        }
        return status;
    }
    void leave() override {
        dir_close(open_.back());
        open_.pop_back();
    }
    bool passed_over(const char* name, const std::string& path) override {
        if (!is_the_archive(name, path.c_str())) {
            return false;
        }
        visitor_.archive_met(path.c_str());
        return true;
    }
    bool file(std::string_view, const std::string& path, std::uint64_t size) override {
        return visitor_.file(path.c_str(), size) != 0;
    }

private:
    TreeVisitor& visitor_;
    std::vector<DirListing*> open_;
};

}  // namespace

void leave_out_of_walk(const char* archive_path) {
    std::string_view path(archive_path);
    std::size_t separator = last_separator(path, local_path_style(), local_lead_bytes());
    left_out.name = std::string(path.substr(separator == std::string_view::npos ? 0 : separator + 1));
    left_out.known = file_identity(archive_path, &left_out.identity) == 1;
}

void share_walk_with(WorkPool* helpers) {
    helpers_of_walks = helpers;
}

WorkPool* walk_helpers() {
    return helpers_of_walks;
}

int walk_tree(const char* dir, TreeVisitor& visitor) {
    CountedWalk walk(visitor);
    std::string message;
    std::string where;
    std::string shown;
    switch (walk_folder(dir, walk, &message, &where)) {
    case WalkFault::none: return 1;
    case WalkFault::stopped: return 0;  // the visitor said why
    case WalkFault::too_many: std::printf("Error: %s\n", message.c_str()); return 0;
    case WalkFault::cannot_list:
        std::printf("Error: Could not list directory '%s'.\n", printable(where.c_str(), shown));
        return 0;
    case WalkFault::unrepresentable:
        std::printf("Error: '%s' cannot be stored: its name holds characters that the ANSI code page cannot "
                    "represent.\n",
                    printable(where.c_str(), shown));
        return 0;
    case WalkFault::too_long: {
        std::string_view quoted = quoted_name(where, shown);
        std::printf("Error: Path too long: '%.*s'.\n", static_cast<int>(quoted.size()), quoted.data());
        return 0;
    }
    }
    return 0;
}
