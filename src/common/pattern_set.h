// Many patterns against many names: each name is tried only against the
// patterns that can match it, found by lookups. A pattern without
// wildcards is looked up by the name's key; one with a literal start or end
// (`data\ini\*`, `*.ini`, `maps\*.map`) by the name's first or last bytes
// of that length; only the rest (`*`, `*a*`) are tried on every name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/name_pattern.h"

// The patterns of one literal length, by the key of that literal.
struct PatternsByPiece {
    std::size_t length;
    std::unordered_map<std::string, std::vector<std::uint32_t>> patterns;
};

struct PatternSet {
    std::vector<std::string> patterns;
    std::unordered_map<std::string, std::vector<std::uint32_t>> exact;
    std::vector<PatternsByPiece> heads;
    std::vector<PatternsByPiece> tails;
    std::vector<std::uint32_t> others;
    LeadBytes lead{};  // how names split into characters
    std::string key;  // scratch, so that matching allocates nothing
};

// Sorts `patterns` (numbered in their order) into the set's lookups; names
// are read by the characters of `lead` (see name_matches).
void pattern_set_build(PatternSet& set, std::vector<std::string> patterns, const LeadBytes& lead = NO_LEAD_BYTES);

// Calls found(p) for every pattern p that matches `name`, each once; the
// order is the lookups'.
template <typename Found>
void pattern_set_match(PatternSet& set, std::string_view name, Found found) {
    if (!set.exact.empty()) {
        name_key(name, &set.key, set.lead);
        if (auto hit = set.exact.find(set.key); hit != set.exact.end()) {
            for (std::uint32_t p : hit->second) {
                found(p);
            }
        }
    }
    auto candidates = [&](const std::vector<PatternsByPiece>& pieces, bool head) {
        for (const PatternsByPiece& piece : pieces) {
            if (piece.length > name.size()) {
                continue;
            }
            name_key(head ? name.substr(0, piece.length) : name.substr(name.size() - piece.length), &set.key,
                     set.lead);
            if (auto hit = piece.patterns.find(set.key); hit != piece.patterns.end()) {
                for (std::uint32_t p : hit->second) {
                    if (name_matches(set.patterns[p], name, set.lead)) {
                        found(p);
                    }
                }
            }
        }
    };
    candidates(set.heads, true);
    candidates(set.tails, false);
    for (std::uint32_t p : set.others) {
        if (name_matches(set.patterns[p], name, set.lead)) {
            found(p);
        }
    }
}
