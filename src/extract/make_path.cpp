// Directory creation with missing parents.
#include <cstring>

#include "common/paths.h"
#include "extract/extract.h"
#include "platform/platform.h"

int make_path(const char* path) {
    // Each retry follows a parent that was just made, so this ends: a parent
    // that cannot be made, or no separator left to cut at, stops it.
    for (;;) {
        MakeDirStatus status = make_directory(path);
        if (status == MakeDirStatus::made) {
            return 1;
        }
        if (status != MakeDirStatus::parent_missing) {
            return 0;
        }
        std::size_t length = std::strlen(path);
        if (length >= MAX_PATH) {
            return 0;
        }
        char parent[MAX_PATH];
        std::memcpy(parent, path, length + 1);
        std::size_t cut = last_separator(parent, local_path_style());
        if (cut == std::string_view::npos || cut == 0) {
            return 0;
        }
        parent[cut] = '\0';
        if (!make_path(parent)) {
            return 0;
        }
    }
}
