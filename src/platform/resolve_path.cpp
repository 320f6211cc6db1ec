// resolve_path: the path logic of common/paths.h with the process's current
// directories, which only the system knows.
#include "common/paths.h"
#include "platform/platform.h"

int resolve_path(const char* dir, char* out, std::size_t size) {
    // An absolute path must not fail because the current directory is too
    // deep or was removed: it is only asked for when it is needed.
    PathStyle style = local_path_style();
    char base[PATH_CAPACITY] = "";
    switch (path_form(dir, style)) {
    case PathForm::absolute:
    case PathForm::device: break;
    case PathForm::drive_relative:
        if (!drive_directory(dir[0], base, sizeof base)) {
            return 0;
        }
        break;
    case PathForm::relative:
    case PathForm::rooted:
        if (!current_directory(base, sizeof base)) {
            return 0;
        }
        break;
    }
    return resolve_path_from(base, dir, style, out, size);
}
