// The traversal that both passes of a build share, so that the i-th file of
// the data pass is the one that got index entry i.
#include <cstdio>
#include <string>

#include "cli/create/create.h"
#include "cli/text/printable.h"
#include "lib/text/ascii.h"
#include "lib/text/paths.h"
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

namespace {

int walk_in(const char* dir, TreeVisitor& visitor, std::uint32_t& entered) {
    std::string shown;
    if (++entered > WALK_DIRECTORY_LIMIT) {
        std::printf("Error: More than %lu directories to walk: links in the input directory may "
                    "make it repeat itself.\n",
                    static_cast<unsigned long>(WALK_DIRECTORY_LIMIT));
        return 0;
    }
    DirListing* listing = nullptr;
    ListDetail detail = visitor.wants_sizes() ? ListDetail::with_sizes : ListDetail::types_only;
    switch (dir_open(dir, detail, &listing, helpers_of_walks)) {
    case ListStatus::listed: break;
    case ListStatus::is_cycle: return 1;  // its files are archived further up already
    case ListStatus::failed:
        std::printf("Error: Could not list directory '%s'.\n", printable(dir, shown));
        return 0;
    }
    const char separator[2] = {path_separator(local_path_style()), '\0'};
    int ok = 1;
    DirItem item;
    while (ok && dir_next(listing, &item)) {
        if (item.name[0] == '.') {
            continue;
        }
        if (item.unrepresentable) {
            std::string whole = std::string(dir) + separator + item.name;
            std::printf("Error: '%s' cannot be stored: its name holds characters that the ANSI code "
                        "page cannot represent.\n",
                        printable(whole.c_str(), shown));
            ok = 0;
            break;
        }
        char path[PATH_CAPACITY] = "";
        if (!append_text(path, sizeof path, dir) || !append_text(path, sizeof path, separator) ||
            !append_text(path, sizeof path, item.name)) {
            std::string whole = std::string(dir) + separator + item.name;
            std::string_view quoted = quoted_name(whole, shown);
            std::printf("Error: Path too long: '%.*s'.\n", static_cast<int>(quoted.size()), quoted.data());
            ok = 0;
            break;
        }
        if (item.isDirectory) {
            ok = walk_in(path, visitor, entered);
            continue;
        }
        if (is_the_archive(item.name, path)) {
            visitor.archive_met(path);
            continue;
        }
        ok = visitor.file(path, item.size);
    }
    dir_close(listing);
    return ok;
}

}  // namespace

int walk_tree(const char* dir, TreeVisitor& visitor) {
    std::uint32_t entered = 0;
    return walk_in(dir, visitor, entered);
}
