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
#include <vector>

#include "lib/patterns/name_pattern.h"

// The patterns under each key, looked up by a view of the key: open
// addressing over a compact array of hashes, at most half full, so that a
// miss (most lookups) touches one or two words and no string is made.
class PatternsByKey {
public:
    // The patterns under `key`, added to. May throw std::bad_alloc.
    std::vector<std::uint32_t>& operator[](const std::string& key);
    // Those under `key`, or null.
    const std::vector<std::uint32_t>* find(std::string_view key) const {
        if (keys_.empty()) {
            return nullptr;
        }
        const std::uint64_t h = hash(key);
        for (std::size_t at = h & mask_;; at = (at + 1) & mask_) {
            const std::uint32_t slot = slots_[at];
            if (slot == 0) {
                return nullptr;
            }
            if (hashes_[at] == h && keys_[slot - 1] == key) {
                return &patterns_[slot - 1];
            }
        }
    }
    bool empty() const { return keys_.empty(); }

    // Keys are short parts of names: 8 bytes a step, mixed by multiplying.
    static std::uint64_t hash(std::string_view key) {
        std::uint64_t h = 0x9E3779B97F4A7C15u ^ key.size();
        std::size_t at = 0;
        for (; at + 8 <= key.size(); at += 8) {
            h = (h ^ word_at(key, at, 8)) * 0xFF51AFD7ED558CCDu;
            h ^= h >> 32;
        }
        h = (h ^ word_at(key, at, key.size() - at)) * 0xC4CEB9FE1A85EC53u;
        return h ^ (h >> 29);
    }

private:
    // `count` (at most 8) bytes from `at`, the first lowest.
    static std::uint64_t word_at(std::string_view key, std::size_t at, std::size_t count) {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < count; ++k) {
            word |= std::uint64_t{static_cast<unsigned char>(key[at + k])} << (8 * k);
        }
        return word;
    }
    void place(std::uint32_t k, std::uint64_t h);

    std::vector<std::string> keys_;
    std::vector<std::vector<std::uint32_t>> patterns_;
    std::vector<std::uint64_t> hashes_;  // by slot
    std::vector<std::uint32_t> slots_;   // a key's number + 1, 0 for none
    std::size_t mask_ = 0;
};

// The patterns of one literal length, by the key of that literal.
struct PatternsByPiece {
    std::size_t length;
    PatternsByKey patterns;
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
    PatternsByKey exact;
    std::vector<PatternsByPiece> heads;
    std::vector<PatternsByPiece> tails;
    std::vector<InfixState> infixes;  // state 0 the root; empty when none
    std::array<std::uint32_t, 256> fromRoot{};  // the root's next states, 0 for none: most steps end there
    // Every state's next on every byte, when the states are few enough for
    // a table (256 a state): one look a byte instead of the fail links.
    std::vector<std::uint32_t> steps;
    // Each state's first with patterns, itself or down its output links,
    // + 1; 0 for none: most states have none, and this says so compactly.
    std::vector<std::uint32_t> reports;
    // Patterns that a head or tail lookup decides alone (`data\*`, `*.ini`,
    // read by bytes): their names need no further match.
    std::vector<bool> decided;
    std::vector<std::uint32_t> others;
    std::vector<std::uint32_t> seen;  // the name each pattern was last tried on, for infixes
    std::uint32_t names = 0;
    LeadBytes lead{};  // how names split into characters
    bool byBytes = true;  // no lead bytes: a key's every byte folded alone
    std::string key;  // scratch, so that matching allocates nothing
    std::string part;
};

// Sorts `patterns` (numbered in their order) into the set's lookups; names
// are read by the characters of `lead` (see name_matches).
void pattern_set_build(PatternSet& set, std::vector<std::string> patterns, const LeadBytes& lead = NO_LEAD_BYTES);

struct PatternSet;

// The state after `state` on byte `c` of a key, or 0 (the root).
std::uint32_t infix_step(const PatternSet& set, std::uint32_t state, unsigned char c);

// Calls found(p) for every pattern p that matches `name`, each once; the
// order is the lookups'.
// The key of `name` in *key: byte by byte where every character is one
// byte, so that a part of the key is the key of that part of the name.
inline void set_key(const PatternSet& set, std::string_view name, std::string* key) {
    if (set.byBytes) {
        key_bytes(name, key);
    } else {
        name_key(name, key, set.lead);
    }
}

// Calls found(p) for every pattern p that matches `name`, each once; the
// order is the lookups'.
template <typename Found>
void pattern_set_match(PatternSet& set, std::string_view name, Found found) {
    // Byte by byte, the whole name's key is made once and its parts looked
    // up; otherwise a part's key is made of that part, by characters.
    std::string& key = set.key;
    bool whole = false;
    auto whole_key = [&] {
        if (!whole) {
            set_key(set, name, &key);
            whole = true;
        }
    };
    if (!set.exact.empty()) {
        whole_key();
        if (const std::vector<std::uint32_t>* hit = set.exact.find(key)) {
            for (std::uint32_t p : *hit) {
                found(p);
            }
        }
    }
    std::string& part = set.part;
    auto candidates = [&](const std::vector<PatternsByPiece>& pieces, bool head) {
        for (const PatternsByPiece& piece : pieces) {
            if (piece.length > name.size()) {
                continue;
            }
            const std::size_t from = head ? 0 : name.size() - piece.length;
            std::string_view looked;
            if (set.byBytes) {
                whole_key();
                looked = std::string_view(key).substr(from, piece.length);
            } else {
                name_key(name.substr(from, piece.length), &part, set.lead);
                looked = part;
            }
            if (const std::vector<std::uint32_t>* hit = piece.patterns.find(looked)) {
                for (std::uint32_t p : *hit) {
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
        whole_key();
        if (++set.names == 0) {  // after 2^32 names: every mark stale
            set.seen.assign(set.seen.size(), 0);
            set.names = 1;
        }
        std::uint32_t state = 0;
        for (char c : key) {
            const auto byte = static_cast<unsigned char>(c);
            state = set.steps.empty() ? infix_step(set, state, byte) : set.steps[state * 256u + byte];
            std::uint32_t at = set.reports[state];
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
