// Many patterns against many names: each name is tried only against the
// patterns that can match it, found by lookups. A pattern without
// wildcards is looked up by the name's key; one with a literal start or end
// (`data\ini\*`, `*.ini`, `maps\*.map`) by the name's first or last bytes
// of that length; one with a literal inside (`*weapon*`) by the literals
// that a name's key holds, all found in one walk of it; only the rest
// (`*`, `*?*`) are tried on every name.
#pragma once

#include <array>
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

// The literals inside the patterns that have neither a literal start nor
// end, matched all at once (Aho-Corasick): states of a trie of their keys,
// each with the longest proper suffix that is also in the trie.
struct InfixState {
    std::vector<std::pair<unsigned char, std::uint32_t>> next;
    std::uint32_t fail = 0;
    std::uint32_t output = 0;  // the nearest state down the fail links with patterns, + 1; 0 for none
    std::vector<std::uint32_t> patterns;  // those whose literal ends here
};

struct PatternSet {
    std::vector<std::string> patterns;
    std::unordered_map<std::string, std::vector<std::uint32_t>> exact;
    std::vector<PatternsByPiece> heads;
    std::vector<PatternsByPiece> tails;
    std::vector<InfixState> infixes;  // state 0 the root; empty when none
    std::array<std::uint32_t, 256> fromRoot{};  // the root's next states, 0 for none: most steps end there
    // Patterns that a head or tail lookup decides alone (`data\*`, `*.ini`,
    // read by bytes): their names need no further match.
    std::vector<bool> decided;
    std::vector<std::uint32_t> others;
    std::vector<std::uint32_t> seen;  // the name each pattern was last tried on, for infixes
    std::uint32_t names = 0;
    LeadBytes lead{};  // how names split into characters
    std::string key;  // scratch, so that matching allocates nothing
};

// Sorts `patterns` (numbered in their order) into the set's lookups; names
// are read by the characters of `lead` (see name_matches).
void pattern_set_build(PatternSet& set, std::vector<std::string> patterns, const LeadBytes& lead = NO_LEAD_BYTES);

struct PatternSet;

// The state after `state` on byte `c` of a key, or 0 (the root).
std::uint32_t infix_step(const PatternSet& set, std::uint32_t state, unsigned char c);

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
                    if (set.decided[p] || name_matches(set.patterns[p], name, set.lead)) {
                        found(p);
                    }
                }
            }
        }
    };
    candidates(set.heads, true);
    candidates(set.tails, false);
    if (!set.infixes.empty()) {
        name_key(name, &set.key, set.lead);
        if (++set.names == 0) {  // after 2^32 names: every mark stale
            set.seen.assign(set.seen.size(), 0);
            set.names = 1;
        }
        std::uint32_t state = 0;
        for (char c : set.key) {
            state = infix_step(set, state, static_cast<unsigned char>(c));
            std::uint32_t at = set.infixes[state].patterns.empty() ? set.infixes[state].output : state + 1;
            for (; at != 0; at = set.infixes[at - 1].output) {
                for (std::uint32_t p : set.infixes[at - 1].patterns) {
                    if (set.seen[p] != set.names) {
                        set.seen[p] = set.names;
                        if (name_matches(set.patterns[p], name, set.lead)) {
                            found(p);
                        }
                    }
                }
            }
        }
    }
    for (std::uint32_t p : set.others) {
        if (name_matches(set.patterns[p], name, set.lead)) {
            found(p);
        }
    }
}
