// Any name that is_safe_entry_name accepts, joined below an output directory
// the way extraction joins it, must stay below that directory, in both path
// styles. The check is a lexical normalisation of its own, deliberately more
// suspicious than the code under test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "lib/text/entry_name.h"
#include "lib/text/paths.h"

namespace {

void fail(const char* what, std::string_view name, PathStyle style) {
    std::fprintf(stderr, "entry_name_fuzz: %s (%s style): '", what,
                 style == PathStyle::windows ? "windows" : "posix");
    std::fwrite(name.data(), 1, name.size(), stderr);
    std::fprintf(stderr, "'\n");
    std::abort();
}

bool separates(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::windows && c == '\\');
}

// Windows drops trailing dots and blanks from a component; when that leaves
// nothing of a component with two dots or more, it may be read as "..".
bool climbs(std::string_view component, PathStyle style) {
    if (component == "..") {
        return true;
    }
    bool only_dots_and_blanks = component.find_last_not_of(". ") == std::string_view::npos;
    return style == PathStyle::windows && only_dots_and_blanks &&
           std::count(component.begin(), component.end(), '.') >= 2;
}

// The number of components of `path` below its root after resolving "." and
// ".." lexically; -1 when a ".." climbs above the root.
int depth_of(std::string_view path, PathStyle style) {
    int depth = 0;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = at;
        while (end < path.size() && !separates(path[end], style)) {
            ++end;
        }
        std::string_view component = path.substr(at, end - at);
        if (climbs(component, style)) {
            if (--depth < 0) {
                return -1;
            }
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
        at = end + 1;
    }
    return depth;
}

void check_style(std::string_view name, PathStyle style) {
    if (!is_safe_entry_name(name, style)) {
        return;
    }
    // The name alone: nothing that restarts a path at a root or a drive.
    if (!name.empty() && (name[0] == '/' || name[0] == '\\')) {
        fail("accepted an absolute name", name, style);
    }
    if (style == PathStyle::windows && name.size() >= 2 && name[1] == ':') {
        fail("accepted a name with a drive", name, style);
    }
    const std::string root = style == PathStyle::windows ? "C:\\out\\dir" : "/out/dir";
    char joined[PATH_CAPACITY];
    std::snprintf(joined, sizeof joined, "%s", root.c_str());
    if (!append_archive_name(joined, sizeof joined, name, style)) {
        return;  // too long: refused, which is safe
    }
    std::string_view path(joined);
    if (path.substr(0, root.size()) != root || !separates(path[root.size()], style)) {
        fail("the join does not start with the output directory", name, style);
    }
    std::string_view below = path.substr(root.size() + 1);
    if (style == PathStyle::windows && below.find(':') != std::string_view::npos) {
        fail("accepted a ':' that Windows reads as a drive or a stream", name, style);
    }
    // Joined, every component is taken from its separators alone: whatever
    // lies below the root must never climb out of it.
    if (depth_of(below, style) < 0) {
        fail("the joined name leaves the output directory", name, style);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A name read from an index ends at its first zero byte.
    std::string_view name(reinterpret_cast<const char*>(data), size);
    name = name.substr(0, name.find('\0'));
    check_style(name, PathStyle::posix);
    check_style(name, PathStyle::windows);
    return 0;
}
