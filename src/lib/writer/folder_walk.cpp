#include "lib/writer/folder_walk.h"

#include <cstring>
#include <vector>

#include "lib/text/joined.h"
#include "lib/text/limits.h"
#include "lib/text/paths.h"
#include "platform/listed_items.h"

namespace {

struct Walk {
    FolderVisitor& visitor;
    std::string* message;
    std::string* where;
    std::size_t rootLength;  // a file's name starts after the root and a separator
    std::vector<FolderIdentity> above;  // the folders being walked, for link loops
    std::uint32_t entered = 0;
    char separator;

    WalkFault fail(WalkFault fault, const std::string& path, std::string text) {
        *message = std::move(text);
        if (where != nullptr) {
            *where = path;
        }
        return fault;
    }
};

WalkFault walk_items(Walk& walk, const std::string& folder, const ListedItems& listed);

WalkFault walk_in(Walk& walk, const std::string& folder) {
    if (++walk.entered > WALK_FOLDER_LIMIT) {
        return walk.fail(WalkFault::too_many, folder,
                         joined({"More than ", std::to_string(WALK_FOLDER_LIMIT),
                                 " directories to walk: links in the input directory may make it repeat itself."}));
    }
    ListedItems listed;
    FolderIdentity identity{};
    switch (walk.visitor.list(folder.c_str(), &listed, &identity)) {
    case ListStatus::listed: break;
    case ListStatus::is_cycle: return WalkFault::none;  // its files are in the archive further up already
    case ListStatus::failed:
        return walk.fail(WalkFault::cannot_list, folder, joined({"Could not list directory '", folder, "'."}));
    }
    if (identity != FolderIdentity{}) {
        for (const FolderIdentity& up : walk.above) {
            if (up == identity) {
                walk.visitor.leave();
                return WalkFault::none;
            }
        }
    }
    walk.above.push_back(identity);
    WalkFault fault = walk_items(walk, folder, listed);
    walk.above.pop_back();
    walk.visitor.leave();
    return fault;
}

WalkFault walk_items(Walk& walk, const std::string& folder, const ListedItems& listed) {
    for (const ListedItems::Listed& item : listed.items) {
        const char* name = listed_name(listed, item);
        if (name[0] == '.') {
            continue;
        }
        std::string path = joined({folder, std::string_view(&walk.separator, 1), name});
        if (item.unrepresentable) {
            return walk.fail(WalkFault::unrepresentable, path,
                             joined({"'", path,
                                     "' cannot be stored: its name holds characters that the ANSI code page cannot "
                                     "represent."}));
        }
        if (path.size() >= PATH_CAPACITY) {
            return walk.fail(WalkFault::too_long, path, joined({"Path too long: '", path, "'."}));
        }
        if (item.isDirectory) {
            if (WalkFault fault = walk_in(walk, path); fault != WalkFault::none) {
                return fault;
            }
            continue;
        }
        if (walk.visitor.passed_over(name, path)) {
            continue;
        }
        char stored[PATH_CAPACITY];
        if (!archive_name_from_local(std::string_view(path).substr(walk.rootLength), local_path_style(), stored,
                                     sizeof stored)) {
            return walk.fail(WalkFault::too_long, path, joined({"Path too long: '", path, "'."}));
        }
        if (!walk.visitor.file(stored, path, item.size)) {
            return WalkFault::stopped;
        }
    }
    return WalkFault::none;
}

class FunctionVisitor final : public FolderVisitor {
public:
    explicit FunctionVisitor(const WalkVisitor& visit) : visit_(visit) {}
    bool file(std::string_view name, const std::string& path, std::uint64_t size) override {
        return visit_(name, path, size);
    }

private:
    const WalkVisitor& visit_;
};

}  // namespace

ListStatus FolderVisitor::list(const char* folder, ListedItems* listed, FolderIdentity* identity) {
    return folder_list(folder, ListDetail::with_sizes, listed, identity) ? ListStatus::listed : ListStatus::failed;
}

WalkFault walk_folder(const char* root, FolderVisitor& visitor, std::string* message, std::string* where) {
    const char separator = path_separator(local_path_style());
    Walk state{visitor, message, where, std::strlen(root) + 1, {}, 0, separator};
    return walk_in(state, root);
}

WalkFault walk_folder(const char* root, const WalkVisitor& visit, std::string* message) {
    FunctionVisitor visitor(visit);
    return walk_folder(root, visitor, message);
}
