#include "extract/searchClass.h"
#include "support/core_plainScan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using quillon::kAddressPattern;
using quillon::searchClass;
using quillon::test::FoundMatch;
using quillon::test::plainScan;

namespace {

constexpr std::string_view kOriginalPattern = "[A-Za-z0-9][\\w-_.]+?@([\\w-_.])+[a-zA-Z]";

// Every address `scanner` returns, with its start, until it stops; the
// scanner may have scanned other texts, with other patterns, before.
std::vector<FoundMatch> scanWith(searchClass& scanner, std::string_view text,
                                 std::string_view pattern = kAddressPattern) {
    EXPECT_TRUE(scanner.setRegex(text, pattern)) << scanner.error();
    std::vector<FoundMatch> found;
    while (true) {
        const std::string_view address = scanner.search();
        if (address.empty()) {
            EXPECT_TRUE(scanner.stop());
            break;
        }
        EXPECT_FALSE(scanner.stop());
        EXPECT_EQ(scanner.posLength(), scanner.matchStart() + static_cast<std::int64_t>(address.size()));
        found.push_back({scanner.matchStart(), std::string(address)});
    }
    return found;
}

std::vector<FoundMatch> scanAll(std::string_view text, std::string_view pattern = kAddressPattern) {
    searchClass scanner;
    return scanWith(scanner, text, pattern);
}

std::vector<std::string> texts(const std::vector<FoundMatch>& found) {
    std::vector<std::string> out;
    for (const auto& f : found) {
        out.push_back(f.text);
    }
    return out;
}

struct ScanCase {
    const char* name;
    std::string text;
    std::vector<std::string> addresses;
};

void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

class ScanEdgeTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanEdgeTest, FindsTheAddressesOfThePlainSearch) {
    const auto& c = GetParam();
    const auto found = scanAll(c.text);
    EXPECT_EQ(texts(found), c.addresses);
    EXPECT_EQ(found, plainScan(c.text, kAddressPattern));
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ScanEdgeTest,
    ::testing::Values(ScanCase{"OneInASentence", "Please write to info@example.com about it.", {"info@example.com"}},
                      ScanCase{"OneLetterLocalPart", "x@example.com", {}},
                      ScanCase{"TwoLetterLocalPart", "xy@example.com", {"xy@example.com"}},
                      ScanCase{"LeadingDotsHyphensUnderscores", "..-_ab.c@example.com", {"ab.c@example.com"}},
                      ScanCase{"TrailingPeriod", "see ab@example.com.", {"ab@example.com"}},
                      ScanCase{"TrailingAngle", "<ab@example.com>", {"ab@example.com"}},
                      ScanCase{"TrailingDigits", "ab@host123", {"ab@host"}},
                      ScanCase{"DomainOfDigitsOnly", "ab@123.456", {}}, ScanCase{"DomainOfOneLetter", "ab@c", {}},
                      ScanCase{"DomainOfTwo", "ab@1c", {"ab@1c"}}, ScanCase{"PlusThenOneLetter", "a+b@example.com", {}},
                      ScanCase{"PlusThenTwo", "a+bc@example.com", {"bc@example.com"}},
                      ScanCase{"CommaSeparated", "ab@x.com,cd@y.org", {"ab@x.com", "cd@y.org"}},
                      ScanCase{"JapaneseAround", "連絡先はab@example.jpまで", {"ab@example.jp"}},
                      ScanCase{"JapaneseInside", "ab@exa日本mple.jp", {"ab@exa"}},
                      ScanCase{"TwoAts", "ab@cd@ef.gh", {"ab@cd"}},
                      ScanCase{"DomainEndingInDigitsThenAt", "ab@cd12@ef.gh", {"ab@cd", "12@ef.gh"}},
                      ScanCase{"AtWithoutDomainThenAddress", "ab@ cd@ef.gh", {"cd@ef.gh"}},
                      ScanCase{"NoLocalBeforeFirstAt", "@@ab@cd", {"ab@cd"}},
                      ScanCase{"UnderscoreStartIsSkipped", "_a@bc", {}},
                      ScanCase{"LocalEndingInDots", "ab..@c.d", {"ab..@c.d"}}, ScanCase{"Empty", "", {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(SearchClass, SecondAddressStartsAtTheComma) {
    searchClass scanner;
    const std::string text = "ab@x.com,cd@y.org";
    ASSERT_TRUE(scanner.setRegex(text, kAddressPattern));
    EXPECT_EQ(scanner.search(), "ab@x.com");
    EXPECT_EQ(scanner.posLength(), 8);
    EXPECT_EQ(text[static_cast<std::size_t>(scanner.posLength())], ',');
    EXPECT_EQ(scanner.search(), "cd@y.org");
    EXPECT_EQ(scanner.matchStart(), 9);
}

TEST(SearchClass, AfterTheEndKeepsReturningEmptyAndLeavesPos) {
    searchClass scanner;
    const std::string text = "mail ab@example.com and more words";
    ASSERT_TRUE(scanner.setRegex(text, kAddressPattern));
    EXPECT_EQ(scanner.search(), "ab@example.com");
    const auto end = scanner.posLength();
    EXPECT_EQ(end, 19);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(scanner.search(), "");
        EXPECT_TRUE(scanner.stop());
        EXPECT_EQ(scanner.posLength(), end);
    }
}

TEST(SearchClass, EmptyText) {
    searchClass scanner;
    ASSERT_TRUE(scanner.setRegex("", kAddressPattern));
    scanner.setDiv();
    EXPECT_EQ(scanner.div(), 10);
    EXPECT_EQ(scanner.destLength(), 0);
    EXPECT_EQ(scanner.search(), "");
    EXPECT_TRUE(scanner.stop());
    EXPECT_EQ(scanner.posLength(), 0);
}

TEST(SearchClass, OriginalSpellingOfThePatternIsAccepted) {
    const std::string text = "x ab@cd.ef, 12@34.5g ..q-r@s_t.u";
    EXPECT_EQ(scanAll(text, kOriginalPattern), scanAll(text, kAddressPattern));
    EXPECT_EQ(texts(scanAll(text, kOriginalPattern)), (std::vector<std::string>{"ab@cd.ef", "12@34.5g", "q-r@s_t.u"}));
}

TEST(SearchClass, OtherPatternsUseThePlainSearch) {
    const std::string text = "a1 b22 c333 日本 d4444";
    EXPECT_EQ(scanAll(text, "[a-z][0-9]+"), plainScan(text, "[a-z][0-9]+"));
    EXPECT_EQ(texts(scanAll(text, "[a-z][0-9]+")), (std::vector<std::string>{"a1", "b22", "c333", "d4444"}));
    // Empty matches are never returned: "" means the end.
    EXPECT_EQ(texts(scanAll("aXbX", "X*")), (std::vector<std::string>{"X", "X"}));
}

TEST(SearchClass, BadPatternReportsAnError) {
    searchClass scanner;
    EXPECT_FALSE(scanner.setRegex("text", "[a-"));
    EXPECT_FALSE(scanner.error().empty());
    EXPECT_EQ(scanner.search(), "");
    EXPECT_TRUE(scanner.stop());
}

struct DivCase {
    std::size_t length;
    double div;
};

class DivTest : public ::testing::TestWithParam<DivCase> {};

TEST_P(DivTest, SmallestPowerOfTenBelowFiftyThousand) {
    const std::string text(GetParam().length, 'a');
    searchClass scanner;
    ASSERT_TRUE(scanner.setRegex(text, kAddressPattern));
    int yields = 0;
    quillon::JobContext ctx;
    ctx.yield = [&yields] { ++yields; };
    scanner.setDiv(ctx);
    EXPECT_EQ(scanner.div(), GetParam().div);
    EXPECT_LT(static_cast<double>(scanner.destLength()) / scanner.div(), 50000.0);
    EXPECT_EQ(yields, static_cast<int>(std::log10(GetParam().div) + 0.5));
}

INSTANTIATE_TEST_SUITE_P(Lengths, DivTest,
                         ::testing::Values(DivCase{0, 10}, DivCase{499999, 10}, DivCase{500000, 100},
                                           DivCase{4999999, 100}, DivCase{5000000, 1000}));

// Random texts made of the characters that matter to the pattern.
std::string randomText(std::mt19937& rng, std::size_t length) {
    static const std::vector<std::string> pieces = {"a", "b", "c", "Z", "x", "q", "0",  "7",  ".",
                                                    "-", "_", "@", "@", "+", " ", "日", "本", "\xE3\x81\x82",
                                                    ">", ","};
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    while (text.size() < length) {
        text += pieces[pick(rng)];
    }
    return text;
}

TEST(SearchClassDifferential, MatchesThePlainLoopOnRandomTexts) {
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<std::size_t> shortLength(0, 40);
    std::uniform_int_distribution<std::size_t> longLength(40, 400);
    std::size_t withMatches = 0;
    // One scanner kept from text to text, now and then given another
    // pattern or one that does not compile, finds what a fresh one finds.
    searchClass kept;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = randomText(rng, i % 4 == 0 ? longLength(rng) : shortLength(rng));
        const auto expected = plainScan(text, kAddressPattern);
        ASSERT_EQ(scanAll(text), expected) << "text: " << text;
        ASSERT_EQ(scanWith(kept, text, i % 7 == 0 ? kOriginalPattern : kAddressPattern), expected) << "text: " << text;
        if (i % 97 == 0) {
            ASSERT_EQ(scanWith(kept, text, "[a-z]+@"), plainScan(text, "[a-z]+@")) << "text: " << text;
        } else if (i % 101 == 0) {
            EXPECT_FALSE(kept.setRegex(text, "[a-"));
        }
        withMatches += expected.empty() ? 0 : 1;
    }
    // The generator must exercise the matching paths, not only the misses.
    EXPECT_GT(withMatches, 3000U);
}

TEST(SearchClassDifferential, MatchesThePlainLoopOnAddressLikeTexts) {
    // Fewer separators: long local runs with several "@" in them.
    std::mt19937 rng(77);
    static const std::string alphabet = "ab9_.-@@";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 60);
    for (int i = 0; i < 20000; ++i) {
        std::string text(length(rng), ' ');
        for (auto& c : text) {
            c = alphabet[pick(rng)];
        }
        ASSERT_EQ(scanAll(text), plainScan(text, kAddressPattern)) << "text: " << text;
    }
}

// Long lines on which a plain search loop is quadratic; the scanner must get
// through them (CTest's time-out catches a quadratic scan).
std::string alnumLine(std::size_t length) {
    static const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string line(length, 'a');
    for (std::size_t i = 0; i < length; ++i) {
        line[i] = alphabet[(i * 7919) % alphabet.size()];
    }
    return line;
}

TEST(SearchClassLongLines, RunWithoutAt) {
    EXPECT_TRUE(scanAll(alnumLine(8'000'000)).empty());
}

TEST(SearchClassLongLines, OneAtWithoutDomain) {
    std::string line = alnumLine(8'000'000);
    line[4'000'000] = '@';
    for (std::size_t i = 4'000'001; i < line.size(); ++i) {
        line[i] = static_cast<char>('0' + i % 10);
    }
    EXPECT_TRUE(scanAll(line).empty());
}

TEST(SearchClassLongLines, AddressAtTheEnd) {
    const std::string run = alnumLine(8'000'000);
    const auto found = scanAll(run + "@example.com");
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].start, 0);
    EXPECT_EQ(found[0].text.size(), run.size() + 12);
}

TEST(SearchClassLongLines, LongDomainAndManyAts) {
    // A domain of megabytes, then a run of "@"-separated pairs.
    std::string text = "ab@" + alnumLine(3'000'000) + "5";
    std::string tail;
    for (int i = 0; i < 199999; ++i) {
        tail += "xy@";
    }
    tail += "zz";
    const auto found = scanAll(text + " " + tail);
    ASSERT_EQ(found.size(), 100001U);
    EXPECT_EQ(found[0].text, text.substr(0, text.size() - 1));
    EXPECT_EQ(found[1].text, "xy@xy");
    EXPECT_EQ(found.back().text, "xy@zz");
}

} // namespace
