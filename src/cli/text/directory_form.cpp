// See directory_form.h.
#include "cli/text/directory_form.h"

#include <cstdio>
#include <string>

#include "cli/text/printable.h"
#include "lib/text/entry_name.h"
#include "lib/text/paths.h"

namespace {

// See directory_form_accepted; prints why when it returns false.
bool windows_folder_accepted(const char* dir, const LeadBytes& lead) {
    const std::string_view path(dir);
    std::string shown;
    if (!path.empty() && path.back() == '"') {
        // What the C runtime makes of "out\" on a command line: out".
        std::printf("Error: The folder '%s' cannot be used: it ends in a quote. On a command line a "
                    "backslash before a closing quote escapes it: type \"out\" or \"out\\\\\", not "
                    "\"out\\\".\n",
                    printable(dir, shown));
        return false;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size();) {
        if (i < path.size() && !is_separator(path[i], PathStyle::windows)) {
            // A character's first byte: never one of these in a two-byte one.
            if (std::string_view("\"<>|?*").find(path[i]) != std::string_view::npos) {
                std::printf("Error: The folder '%s' cannot be used: it holds '%c', which no Windows name "
                            "may hold.\n",
                            printable(dir, shown), path[i]);
                return false;
            }
            i += character_length(path, i, lead);
            continue;
        }
        std::string_view part = path.substr(start, i - start);
        if (part != "." && part != ".." && ends_in_dot_or_blank(part)) {
            std::string part_shown;
            part = printable(part, part_shown);
            std::printf("Error: The folder '%s' cannot be used: its part '%.*s' ends in a dot or a blank, "
                        "which Windows drops.\n",
                        printable(dir, shown), static_cast<int>(part.size()), part.data());
            return false;
        }
        start = ++i;
    }
    return true;
}

}  // namespace

bool directory_form_accepted(const char* dir, PathStyle style, const LeadBytes& lead) {
    if (path_form(dir, style) != PathForm::device) {
        return style != PathStyle::windows || windows_folder_accepted(dir, lead);
    }
    std::string shown;
    std::printf("Error: '%s' is a device path (\\\\?\\ or \\\\.\\), which is not taken as a directory.\n",
                printable(dir, shown));
    return false;
}

