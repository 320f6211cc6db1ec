// Directory creation with missing parents.
#include <cstring>

#include "common/paths.h"
#include "extract/extract.h"
#include "platform/platform.h"

namespace {

// Makes `path` after its missing parents. A parent that is there already,
// under whatever spelling ("a/b/" for "a/b"), is as good as one made.
MakeDirStatus make_with_parents(const char* path) {
    MakeDirStatus status = make_directory(path);
    if (status != MakeDirStatus::parent_missing) {
        return status;
    }
    std::size_t length = std::strlen(path);
    if (length >= PATH_CAPACITY) {
        return MakeDirStatus::other_failure;
    }
    char parent[PATH_CAPACITY];
    std::memcpy(parent, path, length + 1);
    std::size_t cut = last_separator(parent, local_path_style(), local_lead_bytes());
    if (cut == std::string_view::npos || cut == 0) {
        return MakeDirStatus::other_failure;
    }
    parent[cut] = '\0';
    MakeDirStatus made = make_with_parents(parent);
    if (made != MakeDirStatus::made && made != MakeDirStatus::exists) {
        return MakeDirStatus::other_failure;
    }
    // Tried once more only: a parent that is there but still "missing" (a
    // dangling link) must not make this loop.
    status = make_directory(path);
    return status == MakeDirStatus::parent_missing ? MakeDirStatus::other_failure : status;
}

}  // namespace

int make_path(const char* path) {
    return make_with_parents(path) == MakeDirStatus::made;
}
