#include "lib/writer/folder_walk.h"

#include <vector>

#include "lib/text/joined.h"
#include "lib/text/limits.h"
#include "lib/text/paths.h"
#include "platform/listed_items.h"
#include "platform/platform.h"

namespace {

// As many as the command line's walk enters.
constexpr std::uint32_t FOLDER_LIMIT = 65536;

struct Walk {
    const WalkVisitor& visit;
    std::string* message;
    std::size_t rootLength;  // a file's name starts after the root and a separator
    std::vector<FolderIdentity> above;  // the folders being walked, for link loops
    std::uint32_t entered = 0;
    char separator;
};

WalkFault walk_in(Walk& walk, const std::string& folder) {
    if (++walk.entered > FOLDER_LIMIT) {
        *walk.message = joined({"More than ", std::to_string(FOLDER_LIMIT),
                                " directories to walk: links in the input directory may make it repeat itself."});
        return WalkFault::too_many;
    }
    ListedItems listed;
    FolderIdentity identity{};
    if (!folder_list(folder.c_str(), ListDetail::with_sizes, &listed, &identity)) {
        *walk.message = joined({"Could not list directory '", folder, "'."});
        return WalkFault::cannot_list;
    }
    if (identity != FolderIdentity{}) {
        for (const FolderIdentity& up : walk.above) {
            if (up == identity) {
                return WalkFault::none;  // its files are in the archive further up already
            }
        }
    }
    walk.above.push_back(identity);
    for (const ListedItems::Listed& item : listed.items) {
        const char* name = listed_name(listed, item);
        if (name[0] == '.') {
            continue;
        }
        std::string path = folder;
        if (path.empty() || path.back() != walk.separator) {
            path += walk.separator;
        }
        path += name;
        if (item.unrepresentable) {
            *walk.message = joined({"'", path,
                                    "' cannot be stored: its name holds characters that the ANSI code page cannot "
                                    "represent."});
            return WalkFault::unrepresentable;
        }
        auto too_long = [&] {
            *walk.message = joined({"Path too long: '", path, "'."});
            return WalkFault::too_long;
        };
        if (path.size() >= PATH_CAPACITY) {
            return too_long();
        }
        if (item.isDirectory) {
            WalkFault fault = walk_in(walk, path);
            if (fault != WalkFault::none) {
                return fault;
            }
            continue;
        }
        char stored[PATH_CAPACITY];
        if (!archive_name_from_local(std::string_view(path).substr(walk.rootLength), local_path_style(), stored,
                                     sizeof stored)) {
            return too_long();
        }
        if (!walk.visit(stored, path, item.size)) {
            return WalkFault::stopped;
        }
    }
    walk.above.pop_back();
    return WalkFault::none;
}

}  // namespace

WalkFault walk_folder(const char* root, const WalkVisitor& visit, std::string* message) {
    const char separator = path_separator(local_path_style());
    std::string folder(root);
    Walk state{visit, message, folder.size(), {}, 0, separator};
    if (folder.empty() || folder.back() != separator) {
        ++state.rootLength;
    }
    return walk_in(state, folder);
}
