#include "extract/ascReferClass.h"
#include "extract/searchClass.h"
#include "support/core_literalRefer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

using quillon::ascReferClass;
using quillon::JobContext;
using quillon::test::literalRefer;

namespace {

struct ReferCase {
    const char* name;
    std::string text;
    std::string decoded;
};

void PrintTo(const ReferCase& c, std::ostream* os) {
    *os << c.name;
}

class ReferTest : public ::testing::TestWithParam<ReferCase> {};

TEST_P(ReferTest, DecodesLikeTheLiteralLoop) {
    const auto& c = GetParam();
    EXPECT_EQ(ascReferClass().convert(c.text), c.decoded);
    EXPECT_EQ(literalRefer(c.text), c.decoded);
}

const std::string kReplacementChar = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReferTest,
    ::testing::Values(
        ReferCase{"AtSign", "info&#64;example.com", "info@example.com"},
        ReferCase{"Hiragana", "&#12354;", "\xE3\x81\x82"},
        ReferCase{"TwoByteAndFourByte", "&#233;&#128512;", "\xC3\xA9\xF0\x9F\x98\x80"},
        ReferCase{"AmpersandThenNumberSign", "&#38;#65;", "A"}, ReferCase{"CompletesOneBefore", "&&#35;65;", "A"},
        ReferCase{"ClosingSemicolonDecoded", "&#65&#59;", "A"},
        ReferCase{"BodyExtendedByDecodedDigit", "&#6&#53;;", "A"}, ReferCase{"Chain", "&#38;&#35;&#54;&#53;&#59;", "A"},
        ReferCase{"NamedLeftAlone", "&amp; &lt;", "&amp; &lt;"},
        ReferCase{"NoSemicolon", "&#64 and &#x40", "&#64 and &#x40"},
        ReferCase{"NoReferences", "plain text 日本語 & # ;", "plain text 日本語 & # ;"}, ReferCase{"Empty", "", ""},
        ReferCase{"HexInFirstPass", "&#x40;&#X40;&#x3042;", "@@\xE3\x81\x82"},
        ReferCase{"NoDigitsLeftAlone", "&#abc;&#x;&#_;&#xyz;", "&#abc;&#x;&#_;&#xyz;"},
        ReferCase{"LetterFirstLeftAlone", "&#a12;&#_1;&#xg1;", "&#a12;&#_1;&#xg1;"},
        ReferCase{"LeadingDecimalDigits", "&#65abc;", "A"}, ReferCase{"LeadingHexDigits", "&#x41zz;", "A"},
        ReferCase{"LeadingZeros", "&#0000000000000000065;&#x0000000041;", "AA"},
        ReferCase{"Zero", "&#0;&#x0;&#00;", kReplacementChar + kReplacementChar + kReplacementChar},
        ReferCase{"Surrogates", "&#55296;&#xDFFF;", kReplacementChar + kReplacementChar},
        ReferCase{"LastCodeAndBeyond", "&#1114111;&#x110000;", "\xF4\x8F\xBF\xBF" + kReplacementChar},
        ReferCase{"TooLongForAnyInteger", "&#99999999999999999999999999999999;&#xFFFFFFFFFFFFFFFFFFFFFF;",
                  kReplacementChar + kReplacementChar},
        ReferCase{"DollarAndBackslashLiteral", "&#36;1 &#92;1 &#x24;&", "$1 \\1 $&"},
        ReferCase{"LeftAloneThenDecoded", "&#zz;&#65;", "&#zz;A"},
        ReferCase{"DecodedIntoLeftAlone", "&#38;#zz;&#66;", "&#zz;B"},
        ReferCase{"JapaneseAround", "メール&#64;例", "メール@例"},
        ReferCase{"UpperCaseXNotSecondPass", "&#X;", "&#X;"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(AscReferClass, AddressWrittenWithReferenceIsScanned) {
    const std::string decoded = ascReferClass().convert("write to info&#64;example.com today");
    quillon::searchClass scanner;
    ASSERT_TRUE(scanner.setRegex(decoded, quillon::kAddressPattern));
    EXPECT_EQ(scanner.search(), "info@example.com");
}

TEST(AscReferClass, ArgumentUnchangedAndCallsIndependent) {
    const ascReferClass decoder;
    const std::string text = "&#65;&#66;";
    EXPECT_EQ(decoder.convert(text), "AB");
    EXPECT_EQ(text, "&#65;&#66;");
    EXPECT_EQ(decoder.convert("&#67;"), "C");
}

// Random texts of the characters that matter to references.
std::string randomText(std::mt19937& rng, std::size_t length) {
    static const std::vector<std::string> pieces = {"&", "&", "#", "&#", "&#", "&#x", "&#X",     "x", "X",
                                                    "0", "1", "3", "5",  "6",  "9",   "4",       "a", "F",
                                                    "z", "_", ";", ";",  " ",  "日",  "\xC3\xA9"};
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    while (text.size() < length) {
        text += pieces[pick(rng)];
    }
    return text;
}

TEST(AscReferClassDifferential, MatchesTheLiteralLoopOnRandomTexts) {
    std::mt19937 rng(424242);
    std::uniform_int_distribution<std::size_t> length(0, 60);
    const ascReferClass decoder;
    std::size_t changed = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string text = randomText(rng, length(rng));
        const std::string expected = literalRefer(text);
        ASSERT_EQ(decoder.convert(text), expected) << "text: " << text;
        changed += expected != text ? 1 : 0;
    }
    EXPECT_GT(changed, 3000U);
}

// Texts built from references to the characters that make references, so
// that decoded characters keep combining with their neighbours.
TEST(AscReferClassDifferential, MatchesTheLiteralLoopOnNestedReferences) {
    static const std::vector<std::string> pieces = {"&#38;", "&#35;", "&#59;",  "&#x26;", "&#x23;", "&#x3B;",
                                                    "&#54;", "&#53;", "&#120;", "&",      "#",      ";",
                                                    "6",     "5",     "x",      "4",      "1",      "a"};
    std::mt19937 rng(99);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> count(0, 30);
    const ascReferClass decoder;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = count(rng); n > 0; --n) {
            text += pieces[pick(rng)];
        }
        ASSERT_EQ(decoder.convert(text), literalRefer(text)) << "text: " << text;
    }
}

TEST(AscReferClass, LongTextsAcrossCheckPoints) {
    // References that straddle the 64 KB check points, and a reference body of
    // hundreds of kilobytes that is closed by a decoded ";".
    std::string text;
    for (int i = 0; i < 40000; ++i) {
        text += "ab&#38;#6";
        text += "5;";
    }
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        expected += "abA";
    }
    EXPECT_EQ(ascReferClass().convert(text), expected);

    const std::string longBody = "&#" + std::string(300000, '0') + "64&#59;";
    EXPECT_EQ(ascReferClass().convert(longBody), "@");
}

TEST(AscReferClass, StopReturnsDecodedPartAndRestUnchanged) {
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text += "x&#65;";
    }
    std::atomic<bool> stop{false};
    JobContext ctx;
    ctx.stop = &stop;
    int yields = 0;
    ctx.yield = [&] {
        if (++yields == 2) {
            stop = true;
        }
    };
    const std::string result = ascReferClass().convert(text, ctx);
    EXPECT_EQ(yields, 2);
    // Stopped at the second check point: decoded up to about 128 KB of the
    // text, the rest as it was.
    const std::size_t firstLeft = result.find('&');
    ASSERT_NE(firstLeft, std::string::npos);
    EXPECT_GT(firstLeft, 40000U);
    for (std::size_t i = 0; i < firstLeft; ++i) {
        ASSERT_EQ(result[i], i % 2 == 0 ? 'x' : 'A') << i;
    }
    const std::string_view rest = std::string_view(result).substr(firstLeft);
    EXPECT_LT(rest.size(), text.size() - 100000);
    EXPECT_TRUE(std::string_view(text).ends_with(rest));
    // Decoding what was left gives the full result.
    EXPECT_EQ(ascReferClass().convert(result), ascReferClass().convert(text));
}

} // namespace
