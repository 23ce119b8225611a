#include "list/inteliBox.h"
#include "list/listOps.h"
#include "list/textCompare.h"
#include "support/core_join.h"
#include "support/core_pairwiseDedupe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

using quillon::AddressRow;
using quillon::JobContext;
using quillon::RowList;
namespace listOps = quillon::listOps;

namespace {

using quillon::testing::join;

using Progress = std::vector<std::pair<std::int64_t, std::int64_t>>;

AddressRow makeRow(std::string address, bool checked = false, bool selected = false) {
    AddressRow row("", address, "");
    row.checked = checked;
    row.selected = selected;
    return row;
}

RowList makeRows(const std::vector<std::string>& addresses) {
    RowList rows;
    for (const auto& a : addresses) {
        rows.push_back(makeRow(a));
    }
    return rows;
}

std::vector<std::string> column1(const RowList& rows) {
    std::vector<std::string> texts;
    for (const auto& r : rows) {
        texts.emplace_back(r.address());
    }
    return texts;
}

bool sameRows(const RowList& a, const RowList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const AddressRow& x, const AddressRow& y) { return x == y; });
}

// ---- case folding ----

struct FoldCase {
    const char* a;
    const char* b;
    bool equal;
};

class EqualsIgnoreCaseTest : public ::testing::TestWithParam<FoldCase> {};

TEST_P(EqualsIgnoreCaseTest, ComparesFoldedTexts) {
    const auto& c = GetParam();
    EXPECT_EQ(quillon::equalsIgnoreCase(c.a, c.b), c.equal);
    EXPECT_EQ(quillon::equalsIgnoreCase(c.b, c.a), c.equal);
    EXPECT_EQ(quillon::foldCase(c.a) == quillon::foldCase(c.b), c.equal);
    EXPECT_EQ(quillon::foldCase(c.a).size(), std::string(c.a).size());
}

INSTANTIATE_TEST_SUITE_P(
    Letters, EqualsIgnoreCaseTest,
    ::testing::Values(FoldCase{"EXAMPLE.com", "example.COM", true}, FoldCase{"user@a.jp", "user@a.jpx", false},
                      FoldCase{"a@b", "a_b", false}, FoldCase{"[", "{", false},               // '[' + 0x20 is '{'
                      FoldCase{"\xC3\x80\xC3\x89\xC3\x9E", "\xC3\xA0\xC3\xA9\xC3\xBE", true}, // ÀÉÞ àéþ
                      FoldCase{"\xC3\x97", "\xC3\xB7", false},                                // × ÷
                      FoldCase{"\xC3\x9F", "ss", false},                                      // ß
                      FoldCase{"\xC5\xB8", "\xC3\xBF", true},                                 // Ÿ ÿ
                      FoldCase{"\xC2\xB5", "\xCE\xBC", true},                                 // µ μ
                      FoldCase{"\xCE\x91\xCE\xA9\xCE\x86", "\xCE\xB1\xCF\x89\xCE\xAC", true}, // ΑΩΆ αωά
                      FoldCase{"\xCE\xA3\xCE\x9F\xCE\xA3", "\xCF\x83\xCE\xBF\xCF\x82", true}, // ΣΟΣ σος
                      FoldCase{"\xD0\x96\xD0\x81\xD0\xAF", "\xD0\xB6\xD1\x91\xD1\x8F", true}, // ЖЁЯ жёя
                      FoldCase{"\xD1\xA0\xD3\x81", "\xD1\xA1\xD3\x82", true},                 // Ѡ Ӂ pairs
                      FoldCase{"\xEF\xBC\xA1\xEF\xBC\xBA", "\xEF\xBD\x81\xEF\xBD\x9A", true}, // ＡＺ ａｚ
                      FoldCase{"\xEF\xBC\xA1", "A", false},                                   // full width is not ASCII
                      FoldCase{"\xE3\x81\x82", "\xE3\x81\x82", true},                         // あ unchanged
                      FoldCase{"\xFF"
                               "A\xC3",
                               "\xFF"
                               "a\xC3",
                               true}, // invalid bytes kept
                      FoldCase{"\xEF\xBC"
                               "A",
                               "\xEF\xBC"
                               "a",
                               true}, // cut-short sequence
                      FoldCase{"\xC3"
                               "A",
                               "\xC3"
                               "a",
                               true},
                      FoldCase{"\xFF", "\xFE", false}, FoldCase{"", "", true}));

TEST(FoldCase, OrdersByCodePointOfTheFoldedText) {
    EXPECT_LT(quillon::foldCase("B"), quillon::foldCase("c"));
    EXPECT_LT(quillon::foldCase("Z"), quillon::foldCase("\xC3\x80")); // À after every ASCII letter
    EXPECT_LT(quillon::foldCase("ab"), quillon::foldCase("AB@"));
}

// ---- duplicate removal ----

TEST(DeleteByColumn, DesignExampleKeepsFirstOfEachGroupAndReportsEachStep) {
    auto rows = makeRows({"A", "b", "a", "B", "a"});
    rows[0].checked = false;
    rows[1].checked = true;
    rows[2].checked = true;
    Progress progress;
    JobContext ctx;
    ctx.progress = [&](std::int64_t m, std::int64_t v) { progress.emplace_back(m, v); };
    EXPECT_FALSE(listOps::deleteByColumn(rows, 1, ctx));
    EXPECT_EQ(column1(rows), (std::vector<std::string>{"A", "b"}));
    EXPECT_FALSE(rows[0].checked); // the survivor keeps its own state, not a later duplicate's
    EXPECT_TRUE(rows[1].checked);
    EXPECT_EQ(progress, (Progress{{3, 1}, {2, 2}}));
}

TEST(DeleteByColumn, ListsOfNoOrOneRowReportNothing) {
    for (std::size_t n : {0U, 1U}) {
        auto rows = makeRows(std::vector<std::string>(n, "a"));
        int reports = 0;
        JobContext ctx;
        ctx.progress = [&](std::int64_t, std::int64_t) { ++reports; };
        EXPECT_FALSE(listOps::deleteByColumn(rows, 1, ctx));
        EXPECT_EQ(rows.size(), n);
        EXPECT_EQ(reports, 0);
    }
}

TEST(DeleteByColumn, WorksOnTheGivenColumnOnly) {
    RowList rows(3);
    rows[0] = AddressRow("a@x.jp");
    rows[1] = AddressRow("b@X.JP");
    rows[2] = AddressRow("c@y.jp");
    auto byAddress = rows;
    listOps::deleteByColumn(byAddress, 1);
    EXPECT_EQ(byAddress.size(), 3U);
    listOps::deleteByColumn(rows, 2);
    EXPECT_EQ(column1(rows), (std::vector<std::string>{"a@x.jp", "c@y.jp"}));
}

// Random lists of short texts from an alphabet with case pairs in every script
// the folding knows, so that groups are many and mixed.
RowList randomRows(std::mt19937& rng, std::size_t maxRows) {
    static const std::vector<std::string> parts{
        "a",        "A",        "b",        "B",        "\xC3\xA9",     "\xC3\x89",
        "\xD0\xB6", "\xD0\x96", "\xCF\x83", "\xCE\xA3", "\xEF\xBD\x81", "\xEF\xBC\xA1",
        "@",        ".",        "\xFF"};
    std::uniform_int_distribution<std::size_t> count(0, maxRows);
    std::uniform_int_distribution<std::size_t> length(0, 3);
    std::uniform_int_distribution<std::size_t> part(0, parts.size() - 1);
    std::bernoulli_distribution coin(0.5);
    RowList rows(count(rng));
    for (auto& row : rows) {
        std::string cells[3];
        for (auto& cell : cells) {
            const std::size_t len = length(rng);
            for (std::size_t k = 0; k < len; ++k) {
                cell += parts[part(rng)];
            }
        }
        row = AddressRow(cells[0], cells[1], cells[2]);
        row.checked = coin(rng);
        row.selected = coin(rng);
    }
    return rows;
}

struct DedupeRun {
    RowList rows;
    Progress progress;
    bool stopped = false;
};

// Runs one version with a stop requested at the `stopAt`-th progress report
// (0: never).
template <typename Dedupe> DedupeRun runDedupe(Dedupe dedupe, RowList rows, int column, std::size_t stopAt) {
    DedupeRun run;
    std::atomic<bool> stop{false};
    JobContext ctx;
    ctx.stop = &stop;
    ctx.progress = [&](std::int64_t m, std::int64_t v) {
        run.progress.emplace_back(m, v);
        if (run.progress.size() == stopAt) {
            stop = true;
        }
    };
    run.stopped = dedupe(rows, column, ctx);
    run.rows = std::move(rows);
    return run;
}

TEST(DeleteByColumn, MatchesThePairwiseAlgorithmOnRandomLists) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        const auto rows = randomRows(rng, round < 250 ? 40 : 400);
        const int column = round % 3;
        const auto reference = runDedupe(quillon::testing::pairwiseDeleteByColumn, rows, column, 0);
        const auto fast = runDedupe(listOps::deleteByColumn, rows, column, 0);
        ASSERT_TRUE(sameRows(fast.rows, reference.rows)) << "round " << round;
        ASSERT_EQ(fast.progress, reference.progress) << "round " << round;
        ASSERT_EQ(fast.stopped, reference.stopped);
        ASSERT_FALSE(fast.stopped);

        // Stopped after step k, for the first, a middle and the last steps.
        const std::size_t steps = reference.progress.size();
        for (std::size_t k : {std::size_t{1}, std::size_t{2}, steps / 2, steps > 0 ? steps - 1 : 0, steps}) {
            if (k == 0 || k > steps) {
                continue;
            }
            const auto refStopped = runDedupe(quillon::testing::pairwiseDeleteByColumn, rows, column, k);
            const auto fastStopped = runDedupe(listOps::deleteByColumn, rows, column, k);
            ASSERT_TRUE(refStopped.stopped);
            ASSERT_TRUE(fastStopped.stopped) << "round " << round << " k " << k;
            ASSERT_TRUE(sameRows(fastStopped.rows, refStopped.rows)) << "round " << round << " k " << k;
            ASSERT_EQ(fastStopped.progress, refStopped.progress) << "round " << round << " k " << k;
        }
    }
}

TEST(DeleteByColumn, StopAfterFirstStepLeavesLaterDuplicates) {
    const auto run = runDedupe(listOps::deleteByColumn, makeRows({"x", "y", "X", "Y", "y", "x"}), 1, 1);
    EXPECT_TRUE(run.stopped);
    EXPECT_EQ(column1(run.rows), (std::vector<std::string>{"x", "y", "Y", "y"}));
}

// ---- sort ----

TEST(SortByColumn, AscendingIgnoringCaseAndStable) {
    auto rows = makeRows({"b", "A", "B", "a", "\xC3\x89", "c", "\xC3\xA9", "a"});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].setCell(2, std::to_string(i)); // the original position travels with the row
        rows[i].checked = i % 2 == 0;
    }
    listOps::sortByColumn(rows, 1);
    EXPECT_EQ(column1(rows), (std::vector<std::string>{"A", "a", "a", "b", "B", "c", "\xC3\x89", "\xC3\xA9"}));
    for (const auto& r : rows) {
        EXPECT_EQ(r.checked, std::stoi(std::string(r.domain())) % 2 == 0);
    }
}

TEST(SortByColumn, MatchesAStableSortOnFoldedTexts) {
    std::mt19937 rng(7);
    for (int round = 0; round < 104; ++round) {
        // The last rounds: long lists with few distinct texts in column 2, as
        // a list sorted by its domains has (they take a pass of their own).
        const bool longList = round >= 100;
        auto rows = longList ? RowList() : randomRows(rng, 300);
        for (std::size_t i = 0; longList && i < 40000 + rng() % 30000; ++i) {
            static const char* const kDomains[] = {"b.jp", "A.com", "B.JP", "a.COM", "", "\xC3\xA9.fr", "\xC3\x89.FR"};
            rows.emplace_back("", join("u", i), kDomains[rng() % (round == 100 ? 2 : std::size(kDomains))]);
            rows.back().checked = rng() % 2 == 0;
        }
        const int column = longList ? 2 : round % 3;
        auto expected = rows;
        std::stable_sort(expected.begin(), expected.end(), [column](const AddressRow& a, const AddressRow& b) {
            return quillon::foldCase(a.cell(column)) < quillon::foldCase(b.cell(column));
        });
        listOps::sortByColumn(rows, column);
        ASSERT_TRUE(sameRows(rows, expected)) << "round " << round;
    }
}

// ---- filter matching ----

struct FilterCase {
    const char* name;
    std::vector<std::string> addresses;
    std::vector<bool> checkedBefore;
    std::string entry;
    int mode;
    bool markInstead;
    std::vector<std::string> remaining;
    std::vector<bool> checkedAfter;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckByAddressTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(CheckByAddressTest, ChecksOrRemovesMatchingRows) {
    const auto& c = GetParam();
    auto rows = makeRows(c.addresses);
    for (std::size_t i = 0; i < c.checkedBefore.size(); ++i) {
        rows[i].checked = c.checkedBefore[i];
    }
    listOps::checkByAddress(rows, c.entry, 1, c.mode, c.markInstead);
    EXPECT_EQ(column1(rows), c.remaining);
    std::vector<bool> checked;
    for (const auto& r : rows) {
        checked.push_back(r.checked);
    }
    EXPECT_EQ(checked, c.checkedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CheckByAddressTest,
    ::testing::Values(FilterCase{"WholeAddressRemovesAdjacentMatchesIgnoringCase",
                                 {"x@a.jp", "SPAM@a.jp", "spam@A.JP", "y@a.jp", "spam@a.jp"},
                                 {false, true, false, true, false},
                                 "spam@a.jp",
                                 1,
                                 false,
                                 {"x@a.jp", "y@a.jp"},
                                 {false, true}},
                      FilterCase{"AccountComparesTextBeforeFirstAt",
                                 {"info@a.jp", "INFO@b.com", "info2@a.jp", "x@info"},
                                 {},
                                 "info",
                                 2,
                                 false,
                                 {"info2@a.jp", "x@info"},
                                 {false, false}},
                      FilterCase{"DomainIsWholeSecondField",
                                 {"a@example.com", "b@mail.example.com", "c@EXAMPLE.COM@x", "example.com"},
                                 {},
                                 "example.com",
                                 3,
                                 false,
                                 {"b@mail.example.com", "example.com"},
                                 {false, false}},
                      FilterCase{"MarkChecksMatchesAndClearsNothing",
                                 {"a@x.jp", "b@y.jp", "c@x.jp"},
                                 {false, true, true},
                                 "X.JP",
                                 3,
                                 true,
                                 {"a@x.jp", "b@y.jp", "c@x.jp"},
                                 {true, true, true}},
                      FilterCase{"EmptyDomainEntryMatchesAddressesWithoutAt",
                                 {"noat", "a@", "a@b.jp"},
                                 {},
                                 "",
                                 3,
                                 false,
                                 {"a@b.jp"},
                                 {false}},
                      FilterCase{"OtherModeMatchesNothing", {"a", "A"}, {}, "a", 4, false, {"a", "A"}, {false, false}},
                      FilterCase{"EmptyList", {}, {}, "a", 1, false, {}, {}}));

TEST(CheckByAddresses, SameAsOneEntryAtATime) {
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        auto rows = randomRows(rng, 80);
        auto entriesFrom = randomRows(rng, 12);
        std::vector<std::string> filter{std::string()};
        for (const auto& r : entriesFrom) {
            filter.emplace_back(r.address());
        }
        const int mode = 1 + round % 3;
        const bool mark = round % 2 == 0;
        auto expected = rows;
        for (std::size_t i = 1; i < filter.size(); ++i) {
            listOps::checkByAddress(expected, filter[i], 1, mode, mark);
        }
        listOps::checkByAddresses(rows, filter, 1, mode, mark);
        ASSERT_TRUE(sameRows(rows, expected)) << "round " << round;
    }
}

TEST(CheckByAddresses, PlaceholderElementIsNeverAnEntry) {
    auto rows = makeRows({"", "a"});
    listOps::checkByAddresses(rows, {std::string()}, 1, 1, false);
    EXPECT_EQ(rows.size(), 2U);
}

// ---- deleting checked rows ----

TEST(DeleteChecks, RemovesEveryCheckedRowKeepingTheOthers) {
    auto rows = makeRows({"a", "b", "c", "d", "e"});
    rows[1].checked = rows[2].checked = rows[4].checked = true;
    rows[3].selected = true;
    listOps::deleteChecks(rows);
    EXPECT_EQ(column1(rows), (std::vector<std::string>{"a", "d"}));
    EXPECT_TRUE(rows[1].selected);

    for (auto& r : rows) {
        r.checked = true;
    }
    listOps::deleteChecks(rows);
    EXPECT_TRUE(rows.empty());
}

// ---- yielding ----

TEST(ListOps, LongOperationsYieldButNotPerRow) {
    const std::size_t n = 20000;
    RowList big;
    for (std::size_t i = 0; i < n; ++i) {
        big.push_back(makeRow(join("u", i % 5000, "@d", i % 7, ".jp"), i % 2 == 0));
        big.back().setCell(2, "d.jp");
    }
    using Op = std::function<void(RowList&, const JobContext&)>;
    const std::vector<std::pair<const char*, Op>> ops{
        {"deleteByColumn", [](auto& r, const auto& c) { listOps::deleteByColumn(r, 1, c); }},
        {"checkByAddress", [](auto& r, const auto& c) { listOps::checkByAddress(r, "x", 1, 1, true, c); }},
        {"checkAddress",
         [](auto& r, const auto& c) { listOps::checkAddress(r, listOps::correctAddDefaults(), true, c); }},
        {"deleteChecks", [](auto& r, const auto& c) { listOps::deleteChecks(r, c); }},
    };
    for (const auto& [name, op] : ops) {
        auto rows = big;
        std::size_t yields = 0;
        JobContext ctx;
        ctx.yield = [&] { ++yields; };
        op(rows, ctx);
        EXPECT_GT(yields, 0U) << name;
        EXPECT_LT(yields, n / 100) << name;
    }
}

// ---- the list's own methods ----

TEST(InteliBox, DeleteByColumnRaisesStepsThenDone) {
    quillon::inteliBox box;
    box.AddRows(makeRows({"A", "b", "a", "B", "a"}));
    std::vector<std::string> events;
    box.progChange = [&](std::int32_t m, std::int32_t v) { events.push_back(join("prog ", m, ",", v)); };
    box.deleteDone = [&](bool stopped) { events.push_back(stopped ? "done stopped" : "done"); };
    box.exeStop = true; // a stale request from an earlier job is cleared first
    box.deleteByColumn(1);
    EXPECT_EQ(events, (std::vector<std::string>{"prog 3,1", "prog 2,2", "done"}));
    EXPECT_EQ(box.returnListcount(), 2);
}

TEST(InteliBox, DeleteByColumnOnNoOrOneRowRaisesOnlyDone) {
    for (int n : {0, 1}) {
        quillon::inteliBox box;
        box.AddRows(makeRows(std::vector<std::string>(static_cast<std::size_t>(n), "a")));
        std::vector<std::string> events;
        box.progChange = [&](std::int32_t, std::int32_t) { events.emplace_back("prog"); };
        box.deleteDone = [&](bool stopped) { events.push_back(stopped ? "done stopped" : "done"); };
        box.deleteByColumn(1);
        EXPECT_EQ(events, std::vector<std::string>{"done"}) << n;
    }
}

TEST(InteliBox, ExeStopEndsDeleteByColumn) {
    quillon::inteliBox box;
    box.AddRows(makeRows({"x", "y", "X", "Y", "y", "x"}));
    bool reportedStop = false;
    box.progChange = [&box](std::int32_t, std::int32_t) { box.exeStop = true; }; // STOP pressed during step 1
    box.deleteDone = [&](bool stopped) { reportedStop = stopped; };
    box.deleteByColumn(1);
    EXPECT_TRUE(reportedStop);
    EXPECT_EQ(column1(box.rows()), (std::vector<std::string>{"x", "y", "Y", "y"}));
}

TEST(InteliBox, DeleteByColumnSeesOnlyItsOwnStopFlag) {
    quillon::inteliBox box;
    box.AddRows(makeRows({"x", "y", "X", "Y", "y", "x"}));
    bool reportedStop = true;
    box.deleteDone = [&](bool stopped) { reportedStop = stopped; };
    std::atomic<bool> otherStop{true};
    JobContext ctx;
    ctx.stop = &otherStop;
    box.deleteByColumn(1, ctx);
    EXPECT_FALSE(reportedStop);
    EXPECT_EQ(column1(box.rows()), (std::vector<std::string>{"x", "y"}));
}

TEST(InteliBox, CheckByAddressOnEmptyListOnlyResetsProgress) {
    quillon::inteliBox box;
    std::vector<std::pair<int, int>> events;
    box.progChange = [&](std::int32_t m, std::int32_t v) { events.emplace_back(m, v); };
    box.exeStop = true;
    box.checkByAddress("a", 1, 1, false);
    EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{0, 0}}));
    EXPECT_FALSE(box.exeStop);
}

TEST(InteliBox, UnsetEventsAreIgnored) {
    quillon::inteliBox box;
    box.AddRows(makeRows({"a", "A", "b"}));
    box.deleteByColumn(1);
    box.checkByAddress("b", 1, 1, false);
    EXPECT_EQ(column1(box.rows()), std::vector<std::string>{"a"});
}

TEST(InteliBox, SortByColumnMovesWholeRows) {
    quillon::inteliBox box;
    RowList rows(3);
    rows[0] = AddressRow("z@b.jp");
    rows[1] = AddressRow("y@C.jp");
    rows[2] = AddressRow("x@a.jp");
    rows[1].checked = true;
    box.AddRows(rows);
    box.sortByColumn(2);
    EXPECT_EQ(column1(box.rows()), (std::vector<std::string>{"x@a.jp", "z@b.jp", "y@C.jp"}));
    EXPECT_TRUE(box.CellCheck(2));
    EXPECT_EQ(box.Cell(2, 2), "C.jp");
    EXPECT_EQ(box.Cell(0, 7), ""); // a column the list does not have reads as empty
}

} // namespace
