// See pattern_set.h.
#include "common/pattern_set.h"

namespace {

void file_under(std::vector<PatternsByPiece>& pieces, std::string_view literal, std::uint32_t p,
                const LeadBytes& lead) {
    std::string key;
    name_key(literal, &key, lead);
    for (PatternsByPiece& piece : pieces) {
        if (piece.length == literal.size()) {
            piece.patterns[key].push_back(p);
            return;
        }
    }
    pieces.push_back({literal.size(), {}});
    pieces.back().patterns[key].push_back(p);
}

}  // namespace

void pattern_set_build(PatternSet& set, std::vector<std::string> patterns, const LeadBytes& lead) {
    set = PatternSet{};
    set.patterns = std::move(patterns);
    set.lead = lead;
    for (std::uint32_t p = 0; p < set.patterns.size(); ++p) {
        std::string_view pattern = set.patterns[p];
        if (!has_wildcard(pattern)) {
            name_key(pattern, &set.key, lead);
            set.exact[set.key].push_back(p);
            continue;
        }
        // The literal bytes before the first wildcard and after the last:
        // the longer one picks the names to try.
        std::string_view head = pattern.substr(0, pattern.find_first_of("*?"));
        std::string_view tail = pattern.substr(pattern.find_last_of("*?") + 1);
        if (head.empty() && tail.empty()) {
            set.others.push_back(p);
        } else if (head.size() >= tail.size()) {
            file_under(set.heads, head, p, lead);
        } else {
            file_under(set.tails, tail, p, lead);
        }
    }
}
