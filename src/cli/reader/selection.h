// Entries picked by name patterns (lib/patterns/name_pattern.h), as the commands
// that take patterns pick them. Exact names are looked up, not compared
// with every entry; every pattern must select something.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/format/big_format.h"
#include "lib/patterns/pattern_set.h"

struct Selection {
    std::vector<std::string> patterns;  // in the order given, list files' lines in place
    std::vector<bool> matched;
    PatternSet set;  // the same patterns, for lookups
    // Which entries the first pass selected, so that the pass that writes
    // matches nothing again.
    std::vector<bool> chosen;
};

// The patterns of `args` (`count` of them); an argument "@file" stands for
// the patterns of that list file. 1, or 0 after printing why (a list file
// that cannot be read, or holds no pattern).
int read_selection(char** args, int count, Selection* selection);

// The lines of the list file at `path`: blank lines skipped, a carriage
// return ending a line dropped. 1, or 0 after printing that the file could
// not be read.
int read_list_lines(const char* path, std::vector<std::string>* lines);

// Whether `entry` is selected, marking each pattern that selects it. With
// no pattern, every entry is. A name longer than the index window holds of
// it is selected only by patterns made of '*' alone.
bool selects(Selection& selection, const BigEntry& entry);

// The first pass over the entries, in order from entry 0: selects, and
// remembers the answer for entry n.
bool selects_first(Selection& selection, std::uint32_t n, const BigEntry& entry);

// The answer selects_first gave for entry n: every entry without patterns.
bool was_selected(const Selection& selection, std::uint32_t n);

// Entry n of a walk over every entry, or the end of the run after saying
// why: the index could not be read, or holds fewer entries than fileCount.
BigEntry walked_entry(std::uint32_t n);

// Prints "Error: No entry matches '%s'." for each pattern that selected
// nothing; how many did not.
int report_unmatched(const Selection& selection);
