#include "app/settings.h"

#include <gtest/gtest.h>

using quillon::Settings;

namespace {

std::vector<std::string> entries(const std::vector<std::string>& filter) {
    EXPECT_FALSE(filter.empty());
    EXPECT_EQ(filter.front(), "");
    return {filter.begin() + 1, filter.end()};
}

struct ShiwakeCase {
    const char* text;
    std::vector<std::string> address, domain, account;
};

void PrintTo(const ShiwakeCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ShiwakeTest : public ::testing::TestWithParam<ShiwakeCase> {};

TEST_P(ShiwakeTest, SplitsIntoTheThreeLists) {
    const auto& c = GetParam();
    Settings s;
    s.filterString = c.text;
    s.shiwake();
    EXPECT_EQ(entries(s.addressFilter), c.address);
    EXPECT_EQ(entries(s.domainFilter), c.domain);
    EXPECT_EQ(entries(s.accountFilter), c.account);
}

INSTANTIATE_TEST_SUITE_P(Fields, ShiwakeTest,
                         ::testing::Values(ShiwakeCase{"user@example.com", {"user@example.com"}, {}, {}},
                                           ShiwakeCase{"a@b.jp,,***@example.com", {"a@b.jp", ""}, {"example.com"}, {}},
                                           ShiwakeCase{"Mailer-Daemon@***", {}, {}, {"Mailer-Daemon"}},
                                           ShiwakeCase{"abc***", {}, {}, {"abc***"}}, ShiwakeCase{"***", {}, {""}, {}},
                                           ShiwakeCase{"***@a.com@b", {}, {"a.com"}, {}},
                                           ShiwakeCase{"a@x.com, b@y.com", {"a@x.com", " b@y.com"}, {}, {}},
                                           ShiwakeCase{",", {"", ""}, {}, {}},
                                           ShiwakeCase{"****@x.jp", {}, {"x.jp"}, {"****"}}));

TEST(Settings, RebuildingStartsFromEmptyLists) {
    Settings s;
    s.filterString = "a@b.c,***@d.e,f@***";
    s.shiwake();
    s.filterString = "x@y.z";
    s.shiwake();
    EXPECT_EQ(entries(s.addressFilter), std::vector<std::string>{"x@y.z"});
    EXPECT_TRUE(entries(s.domainFilter).empty());
    EXPECT_TRUE(entries(s.accountFilter).empty());
}

TEST(Settings, ShiwakeYieldsBetweenFields) {
    Settings s;
    s.filterString = "a,b,c";
    int yields = 0;
    quillon::JobContext ctx;
    ctx.yield = [&] { ++yields; };
    s.shiwake(ctx);
    EXPECT_EQ(yields, 2);
}

TEST(Settings, SwitchesFollowTheirOnCodesOnly) {
    Settings s;
    s.applyDefaults();
    EXPECT_TRUE(s.isDelet && s.isSort && s.isHighLight && s.inList);
    EXPECT_EQ(s.prefN[4], 4);
    EXPECT_EQ(s.prefN[5], 10);
    s.prefN[1] = 3;
    s.prefN[2] = 0;
    s.prefN[3] = 9;
    s.deriveSwitches();
    EXPECT_FALSE(s.isDelet);
    EXPECT_FALSE(s.isSort);
    EXPECT_FALSE(s.isHighLight);
}

TEST(Settings, DefaultsKeepFilterTextAndBlankLine) {
    Settings s;
    s.filterString = "a@b";
    s.needYohaku = true;
    s.applyDefaults();
    EXPECT_EQ(s.filterString, "a@b");
    EXPECT_TRUE(s.needYohaku);
}

} // namespace
