// See name_beside.h.
#include "lib/writer/name_beside.h"

#include "lib/text/paths.h"
#include "platform/platform.h"

std::string name_beside(const std::string& target, const std::string& suffix) {
    std::string longer = target + suffix;
    if (name_fits(longer.c_str())) {
        return longer;
    }
    const LeadBytes& lead = code_page_lead_bytes();
    std::size_t separator = last_separator(target, local_path_style(), lead);
    std::size_t name_at = separator == std::string::npos ? 0 : separator + 1;
    if (target.size() < name_at + suffix.size()) {
        return "";
    }
    const std::size_t keep = target.size() - suffix.size();
    std::size_t at = name_at;
    while (at < keep && at + character_length(target, at, lead) <= keep) {
        at += character_length(target, at, lead);
    }
    return at == name_at ? "" : target.substr(0, at) + suffix;
}
