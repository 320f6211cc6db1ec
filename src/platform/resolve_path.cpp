// resolve_path: the path logic of lib/text/paths.h with the process's current
// directories, which only the system knows.
#include "lib/text/paths.h"
#include "platform/platform.h"

ResolveStatus resolve_path(const char* dir, char* out, std::size_t size) {
    // An absolute path must not fail because the current directory is too
    // deep or was removed: it is only asked for when it is needed.
    PathStyle style = local_path_style();
    char base[PATH_CAPACITY] = "";
    switch (path_form(dir, style)) {
    case PathForm::absolute:
    case PathForm::device: break;
    case PathForm::drive_relative:
        if (!drive_directory(dir[0], base, sizeof base)) {
            return ResolveStatus::too_long;
        }
        break;
    case PathForm::relative:
    case PathForm::rooted:
        switch (current_directory(base, sizeof base)) {
        case CurrentDirectory::known: break;
        case CurrentDirectory::too_long: return ResolveStatus::too_long;
        case CurrentDirectory::unknown: return ResolveStatus::no_current_directory;
        }
        break;
    }
    return resolve_path_from(base, dir, style, out, size) ? ResolveStatus::resolved
                                                          : ResolveStatus::too_long;
}
