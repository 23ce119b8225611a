#include "list/addressBox.h"
#include "list/listOps.h"
#include "support/core_join.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quillon::addressBox;
namespace listOps = quillon::listOps;

namespace {

using quillon::testing::join;

// Records every notification as a short text.
class RecordingObserver : public quillon::ListObserver {
public:
    std::vector<std::string> events;
    void listAboutToReset() override { events.emplace_back("aboutToReset"); }
    void listReset() override { events.emplace_back("reset"); }
    void rowsAboutToAppend(std::int64_t first, std::int64_t last) override {
        events.push_back(join("aboutToAppend ", first, "-", last));
    }
    void rowsAppended() override { events.emplace_back("appended"); }
    void rowsChanged(std::int64_t first, std::int64_t last) override {
        events.push_back(join("changed ", first, "-", last));
    }
    void scrolledTo(std::int64_t row) override { events.push_back(join("scrolled ", row)); }
    void enabledChanged(bool enabled) override { events.push_back(enabled ? "enabled" : "disabled"); }
};

// An opened list with one address per row ("r0@x.jp", "r1@x.jp", ...) and the
// given rows checked.
void fill(addressBox& box, int rows, const std::vector<int>& checked) {
    box.Open();
    for (int r = 0; r < rows; ++r) {
        box.addAddress(join("r", r, "@x.jp"), 1);
    }
    for (int r : checked) {
        box.setCellCheck(r, true);
    }
}

struct AddCase {
    const char* address;
    std::int32_t column;
    std::array<std::string, 3> cells;
};

class AddAddressTest : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddAddressTest, AppendsAnUncheckedRowWithItsDomain) {
    const auto& c = GetParam();
    addressBox box;
    box.Open();
    box.addAddress("first@a.jp", 1);
    box.setCellCheck(0, true);
    box.addAddress(c.address, c.column);
    ASSERT_EQ(box.ListCount(), 2);
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(box.row(1).cell(column), c.cells[static_cast<std::size_t>(column)]) << column;
    }
    EXPECT_FALSE(box.CellCheck(1));
    EXPECT_FALSE(box.Selected(1));
}

INSTANTIATE_TEST_SUITE_P(Domains, AddAddressTest,
                         ::testing::Values(AddCase{"user@example.com", 1, {"", "user@example.com", "example.com"}},
                                           AddCase{"a@b@c", 1, {"", "a@b@c", "b"}},
                                           AddCase{"no-at-sign", 1, {"", "no-at-sign", ""}},
                                           AddCase{"", 1, {"", "", ""}},
                                           AddCase{"User@EXAMPLE.com ", 1, {"", "User@EXAMPLE.com ", "EXAMPLE.com "}},
                                           AddCase{"u@d.jp", 0, {"u@d.jp", "d.jp", ""}},
                                           AddCase{"u@d.jp", 2, {"", "", "u@d.jp"}}));

TEST(AddressBox, AddAddressesAppendsInOneNotification) {
    addressBox box;
    RecordingObserver observer;
    box.setObserver(&observer);
    box.addAddress("a@x.jp", 1);
    box.addAddresses({"b@y.jp", "c@z@w", "d"});
    box.addAddresses({});
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"aboutToAppend 0-0", "appended", "aboutToAppend 1-3", "appended"}));
    ASSERT_EQ(box.ListCount(), 4);
    EXPECT_EQ(box.Cell(2, 1), "c@z@w");
    EXPECT_EQ(box.Cell(2, 2), "z");
    EXPECT_EQ(box.Cell(3, 2), "");
}

TEST(AddressBox, OpenFillsTheElevenEndingsAfterAnEmptyElement) {
    addressBox box;
    box.Open();
    EXPECT_EQ(box.correctAdd,
              (std::vector<std::string>{"", "jp", "com", "net", "org", "fm", "cc", "cx", "to", "tv", "info", "name"}));
}

// ---- the suspicious-address rule ----

struct DomainCase {
    const char* domain;
    bool passes;
};

class DomainPassesTest : public ::testing::TestWithParam<DomainCase> {};

TEST_P(DomainPassesTest, EndingAndFirstDot) {
    EXPECT_EQ(listOps::domainPasses(GetParam().domain, listOps::correctAddDefaults()), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(Rule, DomainPassesTest,
                         ::testing::Values(DomainCase{"example.jp", true}, DomainCase{"EXAMPLE.COM", true},
                                           DomainCase{"mail.example.info", true}, DomainCase{"example.ajp", true},
                                           DomainCase{"a.name", true}, DomainCase{"x.Tv", true},
                                           DomainCase{"examplejp", false}, DomainCase{".jp", false},
                                           DomainCase{"example.co.uk", false}, DomainCase{"", false},
                                           DomainCase{"jp", false}, DomainCase{"a.b", false},
                                           DomainCase{"example.jp.", false}, DomainCase{"\xC3\xA9.com", true},
                                           DomainCase{"example.\xEF\xBC\xAA\xEF\xBC\xB0", false})); // full-width ＪＰ

TEST(AddressBox, EndingsAreComparedByCharacters) {
    // An ending of two three-byte characters: the domain's last two characters
    // must equal it.
    const std::vector<std::string> endings{"", "\xE6\x97\xA5\xE6\x9C\xAC"}; // 日本
    EXPECT_TRUE(listOps::domainPasses("\xE4\xBE\x8B.\xE6\x97\xA5\xE6\x9C\xAC", endings));
    EXPECT_FALSE(listOps::domainPasses("\xE4\xBE\x8B.\xE6\x9C\xAC", endings));
    // Element 0 is never tested: an empty ending there would pass everything.
    EXPECT_FALSE(listOps::domainPasses("a.b", {""}));
}

std::vector<bool> checks(const addressBox& box) {
    std::vector<bool> v;
    for (const auto& r : box.rows()) {
        v.push_back(r.checked);
    }
    return v;
}

std::vector<bool> selections(const addressBox& box) {
    std::vector<bool> v;
    for (const auto& r : box.rows()) {
        v.push_back(r.selected);
    }
    return v;
}

TEST(AddressBox, CheckAddressMarksExactlyTheFailingRows) {
    for (bool isHighLight : {true, false}) {
        addressBox box;
        box.Open();
        box.addAddresses({"a@example.jp", "b@examplejp", "c@EXAMPLE.COM", "d@example.co.uk", "no-at", "e@.jp"});
        box.setCellCheck(0, true); // a passing row checked before the check
        box.setSelected(2, true);
        RecordingObserver observer;
        box.setObserver(&observer);
        EXPECT_FALSE(box.checkAddress(isHighLight));
        EXPECT_EQ(selections(box), (std::vector<bool>{false, true, false, true, true, true}));
        if (isHighLight) {
            EXPECT_EQ(checks(box), (std::vector<bool>{false, true, false, true, true, true}));
        } else {
            EXPECT_EQ(checks(box), std::vector<bool>(6, false));
        }
        EXPECT_EQ(observer.events, (std::vector<std::string>{"disabled", "changed 0-5", "enabled"}));
        EXPECT_TRUE(box.Enabled());
    }
}

TEST(AddressBox, CheckAddressOnEmptyListOnlyDisablesAndEnables) {
    addressBox box;
    box.Open();
    RecordingObserver observer;
    box.setObserver(&observer);
    EXPECT_FALSE(box.checkAddress(true));
    EXPECT_EQ(observer.events, (std::vector<std::string>{"disabled", "enabled"}));
}

// ---- the next-checked-row walk ----

struct WalkStep {
    bool found;
    std::int32_t posY;
    std::int64_t scroll; // -1: not scrolled by this call
};

void expectWalk(addressBox& box, const std::vector<WalkStep>& steps) {
    RecordingObserver observer;
    box.setObserver(&observer);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        observer.events.clear();
        EXPECT_EQ(box.upUndefined(), steps[i].found) << "call " << i + 1;
        EXPECT_EQ(box.isFound, steps[i].found) << "call " << i + 1;
        EXPECT_EQ(box.posY, steps[i].posY) << "call " << i + 1;
        const auto expected = steps[i].scroll < 0 ? std::vector<std::string>{}
                                                  : std::vector<std::string>{join("scrolled ", steps[i].scroll)};
        EXPECT_EQ(observer.events, expected) << "call " << i + 1;
    }
    box.setObserver(nullptr);
}

TEST(UpUndefined, WalksFromRowZeroAndEndsAfterTheLastCheckedRow) {
    struct Case {
        int rows;
        std::vector<int> checked;
        std::vector<WalkStep> steps;
    };
    const std::vector<Case> cases = {
        // Row 0 is visited, and the press after the last hit says the walk is over.
        {5, {0, 3}, {{true, 1, 0}, {true, 4, 3}, {false, 0, -1}, {true, 1, 0}}},
        {6, {2, 4}, {{true, 3, 2}, {true, 5, 4}, {false, 0, -1}, {true, 3, 2}}},
        // A hit on the last row is not found again at once.
        {4, {3}, {{true, 4, 3}, {false, 0, -1}, {true, 4, 3}}},
        {1, {0}, {{true, 1, 0}, {false, 0, -1}, {true, 1, 0}}},
        {3, {}, {{false, 0, -1}, {false, 0, -1}}},
        {3, {0, 1, 2}, {{true, 1, 0}, {true, 2, 1}, {true, 3, 2}, {false, 0, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(join(c.rows, " rows"));
        addressBox box;
        fill(box, c.rows, c.checked);
        expectWalk(box, c.steps);
    }

    addressBox empty;
    empty.Open();
    EXPECT_FALSE(empty.upUndefined());
    EXPECT_EQ(empty.posY, 0);
}

TEST(UpUndefined, ListThatShrankBelowThePosition) {
    for (int remaining : {5, 10}) { // the position past the end, and on the last row
        addressBox box;
        fill(box, 12, {2, 8});
        box.posY = 7;
        ASSERT_TRUE(box.upUndefined());
        ASSERT_EQ(box.posY, 9);
        box.resetRows([remaining](auto& rows) { rows.resize(static_cast<std::size_t>(remaining)); });
        // Nothing checked lies at or below the position: the walk ends without
        // a hit and starts again from the top on the next call.
        expectWalk(box, {{false, 0, -1}, {true, 3, 2}});
    }
}

// ---- deleting checked rows ----

TEST(DeleteChecks, AdjacentAndAllCheckedRows) {
    addressBox box;
    fill(box, 5, {1, 2});
    box.setSelected(3, true);
    box.deleteChecks();
    ASSERT_EQ(box.ListCount(), 3);
    EXPECT_EQ(box.Cell(0, 1), "r0@x.jp");
    EXPECT_EQ(box.Cell(1, 1), "r3@x.jp");
    EXPECT_EQ(box.Cell(2, 1), "r4@x.jp");
    EXPECT_TRUE(box.Selected(1));

    addressBox all;
    fill(all, 4, {0, 1, 2, 3});
    all.deleteChecks();
    EXPECT_EQ(all.ListCount(), 0);
    all.deleteChecks(); // an empty list: nothing happens
    EXPECT_EQ(all.ListCount(), 0);
}

TEST(DeleteChecks, NotifiesOneResetOrNothing) {
    addressBox box;
    fill(box, 3, {});
    RecordingObserver observer;
    box.setObserver(&observer);
    box.deleteChecks();
    EXPECT_TRUE(observer.events.empty());
    box.setCellCheck(1, true);
    box.deleteChecks();
    EXPECT_EQ(observer.events, (std::vector<std::string>{"changed 1-1", "aboutToReset", "reset"}));
}

TEST(AddressBox, CellEditsAndStatesNotifyTheirRow) {
    addressBox box;
    fill(box, 3, {});
    RecordingObserver observer;
    box.setObserver(&observer);
    box.setCell(2, 1, "new@y.jp");
    box.setSelected(0, true);
    box.setEnabled(false);
    box.setEnabled(false);
    box.RemoveRow(1);
    box.DeleteAllRows();
    EXPECT_EQ(observer.events, (std::vector<std::string>{"changed 2-2", "changed 0-0", "disabled", "aboutToReset",
                                                         "reset", "aboutToReset", "reset"}));
}

TEST(AddressBox, TakeAndPutRows) {
    addressBox box;
    fill(box, 3, {1});
    RecordingObserver observer;
    box.setObserver(&observer);
    auto rows = box.takeRows();
    EXPECT_EQ(box.ListCount(), 0);
    EXPECT_EQ(observer.events, (std::vector<std::string>{"aboutToReset", "reset"}));
    listOps::deleteChecks(rows);
    box.putRows(std::move(rows));
    EXPECT_EQ(box.ListCount(), 2);
    EXPECT_EQ(observer.events, (std::vector<std::string>{"aboutToReset", "reset", "aboutToReset", "reset"}));
}

} // namespace
