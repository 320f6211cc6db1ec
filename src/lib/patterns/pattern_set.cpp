// See pattern_set.h.
#include "lib/patterns/pattern_set.h"

#include <algorithm>

std::vector<std::uint32_t>& PatternsByKey::operator[](const std::string& key) {
    const std::uint64_t h = hash(key);
    if (!keys_.empty()) {
        for (std::size_t at = h & mask_; slots_[at] != 0; at = (at + 1) & mask_) {
            if (hashes_[at] == h && keys_[slots_[at] - 1] == key) {
                return patterns_[slots_[at] - 1];
            }
        }
    }
    keys_.push_back(key);
    patterns_.emplace_back();
    const auto k = static_cast<std::uint32_t>(keys_.size() - 1);
    if (2 * keys_.size() > slots_.size()) {
        const std::size_t size = std::max<std::size_t>(16, slots_.size() * 2);
        slots_.assign(size, 0);
        hashes_.assign(size, 0);
        mask_ = size - 1;
        for (std::uint32_t old = 0; old < k; ++old) {
            place(old, hash(keys_[old]));
        }
    }
    place(k, h);
    return patterns_.back();
}

void PatternsByKey::place(std::uint32_t k, std::uint64_t h) {
    std::size_t at = h & mask_;
    while (slots_[at] != 0) {
        at = (at + 1) & mask_;
    }
    slots_[at] = k + 1;
    hashes_[at] = h;
}

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

// The longest run of bytes between wildcards in `pattern`.
std::string_view longest_literal(std::string_view pattern) {
    std::string_view best;
    for (std::size_t at = 0; at < pattern.size();) {
        std::size_t end = pattern.find_first_of("*?", at);
        end = end == std::string_view::npos ? pattern.size() : end;
        if (end - at > best.size()) {
            best = pattern.substr(at, end - at);
        }
        at = end + 1;
    }
    return best;
}

void add_infix(std::vector<InfixState>& states, const std::string& key, std::uint32_t p) {
    if (states.empty()) {
        states.emplace_back();
    }
    std::uint32_t state = 0;
    for (char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        std::uint32_t to = 0;
        for (const auto& [on, next] : states[state].next) {
            if (on == byte) {
                to = next;
            }
        }
        if (to == 0) {
            to = static_cast<std::uint32_t>(states.size());
            states[state].next.emplace_back(byte, to);
            states.emplace_back();
        }
        state = to;
    }
    states[state].patterns.push_back(p);
}

// The fail and output links, breadth first from the root.
void link_infixes(std::vector<InfixState>& states) {
    std::vector<std::uint32_t> queue;
    for (const auto& edge : states[0].next) {
        queue.push_back(edge.second);
    }
    for (std::size_t at = 0; at < queue.size(); ++at) {
        const std::uint32_t state = queue[at];
        const std::uint32_t fail = states[state].fail;
        states[state].output = states[fail].patterns.empty() ? states[fail].output : fail + 1;
        for (const auto& [on, next] : states[state].next) {
            std::uint32_t back = fail;
            std::uint32_t to = 0;
            while (true) {
                for (const auto& edge : states[back].next) {
                    if (edge.first == on && edge.second != next) {
                        to = edge.second;
                    }
                }
                if (to != 0 || back == 0) {
                    break;
                }
                back = states[back].fail;
            }
            states[next].fail = to;
            queue.push_back(next);
        }
    }
}

}  // namespace

std::uint32_t infix_step(const PatternSet& set, std::uint32_t state, unsigned char c) {
    const std::vector<InfixState>& states = set.infixes;
    while (state != 0) {
        for (const auto& [on, next] : states[state].next) {
            if (on == c) {
                return next;
            }
        }
        state = states[state].fail;
    }
    return set.fromRoot[c];
}

void pattern_set_build(PatternSet& set, std::vector<std::string> patterns, const LeadBytes& lead) {
    set = PatternSet{};
    set.patterns = std::move(patterns);
    set.lead = lead;
    set.decided.assign(set.patterns.size(), false);
    const bool by_bytes = std::none_of(lead.begin(), lead.end(), [](bool is_lead) { return is_lead; });
    set.byBytes = by_bytes;
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
            std::string_view inside = longest_literal(pattern);
            if (inside.empty()) {
                set.others.push_back(p);
                continue;
            }
            name_key(inside, &set.key, lead);
            add_infix(set.infixes, set.key, p);
        } else if (head.size() >= tail.size()) {
            file_under(set.heads, head, p, lead);
            set.decided[p] = by_bytes && pattern.size() == head.size() + 1 && pattern.back() == '*';
        } else {
            file_under(set.tails, tail, p, lead);
            set.decided[p] = by_bytes && pattern.size() == tail.size() + 1 && pattern.front() == '*';
        }
    }
    if (!set.infixes.empty()) {
        link_infixes(set.infixes);
        set.seen.assign(set.patterns.size(), 0);
        for (const auto& [on, next] : set.infixes[0].next) {
            set.fromRoot[on] = next;
        }
        for (std::uint32_t state = 0; state < set.infixes.size(); ++state) {
            const InfixState& infix = set.infixes[state];
            set.reports.push_back(infix.patterns.empty() ? infix.output : state + 1);
        }
        // Up to 4096 states, a table of 4 MiB at most.
        if (set.infixes.size() <= 4096) {
            set.steps.resize(set.infixes.size() * 256);
            for (std::uint32_t state = 0; state < set.infixes.size(); ++state) {
                for (unsigned c = 0; c < 256; ++c) {
                    set.steps[state * 256u + c] = infix_step(set, state, static_cast<unsigned char>(c));
                }
            }
        }
    }
}
