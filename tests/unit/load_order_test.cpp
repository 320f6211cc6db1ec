// The load-order rule: which entry wins for a name, the order of the
// winners, and which names are conflicts, on archives held in memory.
#include <memory>

#include <gtest/gtest.h>

#include "lib/load_order/load_order.h"
#include "support/big_writer.h"

namespace {

int read_string(void* context, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    const auto* bytes = static_cast<const std::string*>(context);
    std::uint64_t left = offset < bytes->size() ? bytes->size() - offset : 0;
    *got = static_cast<std::uint32_t>(left < count ? left : count);
    bytes->copy(static_cast<char*>(buffer), *got, static_cast<std::size_t>(offset));
    return 1;
}

struct LoadOrderCase {
    const char* name;
    std::vector<std::vector<FixtureEntry>> archives;  // in load order
    std::string winners;    // "archive:entry" of each winner, in merge order
    std::string conflicts;  // each conflict's holders, "archive:entry" in load order, a ';' after each
    std::uint64_t sameBytes;
};

const std::vector<LoadOrderCase> CASES = {
    {"LaterHidesEarlier", {{{"a.txt", "1"}, {"b.txt", "b"}}, {{"a.txt", "2"}}}, "1:0 0:1", "0:0 1:0;", 0},
    {"CaseAndSeparatorAreOneName", {{{"Data\\X.ini", "1"}}, {{"data/x.INI", "2"}}, {{"DATA\\x.ini", "3"}}},
     "2:0", "0:0 1:0 2:0;", 0},
    {"OtherNamesStayApart", {{{"a\\b", "1"}, {"a.b", "2"}}, {{"a_b", "3"}, {"A\\B ", "4"}}},
     "0:0 0:1 1:0 1:1", "", 0},
    {"FirstOfANameInOneArchiveCounts", {{{"a.txt", "1"}, {"A.TXT", "2"}}, {{"x", "x"}, {"a.txt", "3"}, {"a.txt", "1"}}},
     "1:1 1:0", "0:0 1:1;", 0},
    {"TwiceInOneArchiveIsNoConflict", {{{"a\\txt", "1"}, {"A/TXT", "2"}, {"a\\Txt", "3"}}}, "0:0", "", 0},
    {"IdenticalCopiesAreCounted", {{{"a.txt", "same"}, {"b", "b1"}}, {{"A.TXT", "same"}, {"b", "b2"}}, {{"a.txt", "same"}}},
     "2:0 1:1", "0:1 1:1;", 1},
    {"SameSizeOtherBytes", {{{"a", "abc"}}, {{"a", "abc"}}, {{"a", "abd"}}}, "2:0", "0:0 1:0 2:0;", 0},
    {"OneOtherCopyInTheMiddle",
     {{{"a", "x"}}, {{"b", "b"}}, {{"a", "y"}, {"a", "x"}}, {{"c", ""}}, {{"a", "x"}}}, "4:0 1:0 3:0",
     "0:0 2:0 4:0;", 0},
    {"EmptyEntriesAlike", {{{"e", ""}}, {{"E", ""}}}, "1:0", "", 1},
};

class LoadOrderTest : public ::testing::TestWithParam<LoadOrderCase> {};

TEST_P(LoadOrderTest, WinnersAndConflicts) {
    const LoadOrderCase& c = GetParam();
    std::vector<std::string> bytes;
    bytes.reserve(c.archives.size());
    std::vector<std::unique_ptr<ArchiveTable>> tables;
    Overlay overlay;
    for (const auto& entries : c.archives) {
        bytes.push_back(big_archive(entries));
        tables.push_back(std::make_unique<ArchiveTable>());
        ArchiveSource source{read_string, &bytes.back(), bytes.back().size()};
        ASSERT_EQ(table_open(*tables.back(), source), OpenFault::none);
        ASSERT_EQ(overlay_add(overlay, *tables.back(), source), OverlayFault::none);
    }
    const auto shown = [](Holder h) { return std::to_string(h.archive) + ":" + std::to_string(h.entry); };
    std::string winners;
    for (std::uint32_t k = 0; k < overlay.names.size(); ++k) {
        winners += k > 0 ? " " : "";
        winners += shown(overlay_winner(overlay, k));
        // Every holder's stored name finds its own winner.
        EXPECT_EQ(overlay_find(overlay, holder_name(overlay, overlay_first(overlay, k))), k);
    }
    EXPECT_EQ(winners, c.winners);
    std::string conflicts;
    OverlayWalk walk = overlay_conflicts(overlay, [&](const Conflict& conflict) {
        for (std::size_t h = 0; h < conflict.holders.size(); ++h) {
            conflicts += h > 0 ? " " : "";
            conflicts += shown(conflict.holders[h]);
        }
        conflicts += ";";
        return true;
    });
    EXPECT_EQ(walk.fault, OverlayFault::none);
    EXPECT_EQ(conflicts, c.conflicts);
    EXPECT_EQ(walk.sameBytes, c.sameBytes);
    EXPECT_FALSE(overlay_find(overlay, "nowhere"));
}

INSTANTIATE_TEST_SUITE_P(Rule, LoadOrderTest, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<LoadOrderCase>& info) { return info.param.name; });

}  // namespace
