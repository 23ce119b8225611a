// The vector UTF-8 check against the portable one, and both against the
// character-by-character definition, on texts built to put every kind of
// sequence at every offset of a block.
#include "app/utf8Check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace u8 = quillon::utf8Check;

namespace {

// Every byte 0x80 and above, to look for with find_first_of.
const std::string kHighBytes = [] {
    std::string all;
    for (int b = 0x80; b < 0x100; ++b) {
        all += static_cast<char>(b);
    }
    return all;
}();

// The definition: walk sequence by sequence.
std::size_t firstInvalidByDefinition(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t bad = 0;
        const std::size_t len = u8::sequence(p + i, text.size() - i, bad);
        if (len == 0) {
            return i;
        }
        i += len;
    }
    return text.size();
}

// Pieces the random texts are made of: ASCII (with "&"), valid characters of
// every length including the edges of each range, and the invalid kinds:
// lone continuations, overlongs, surrogates, values above U+10FFFF, bytes
// that never occur, and leads cut short.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> kPieces = {
        "a",
        "Z",
        "0",
        "@",
        "&",
        " ",
        "\n",
        "\x7F",
        "\x00",
        "\xC2\x80",
        "\xDF\xBF",
        "\xC3\xA9", // two bytes
        "\xE0\xA0\x80",
        "\xE3\x81\x82",
        "\xED\x9F\xBF",
        "\xEE\x80\x80",
        "\xEF\xBF\xBF", // three bytes
        "\xF0\x90\x80\x80",
        "\xF4\x8F\xBF\xBF",
        "\xF3\xA0\x81\x81", // four bytes
        "\x80",
        "\xBF",
        "\xC0\xAF",
        "\xC1\xBF",
        "\xE0\x80\xAF",
        "\xE0\x9F\xBF", // invalid
        "\xED\xA0\x80",
        "\xED\xBF\xBF",
        "\xF0\x80\x80\x80",
        "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80",
        "\xF5\x80\x80\x80",
        "\xF8",
        "\xFF",
        "\xFE",
        "\xC2",
        "\xE3\x81",
        "\xF0\x90\x80",
        "\xE3",
        "\xF0",
    };
    return kPieces;
}

bool isValidPiece(const std::string& s) {
    return firstInvalidByDefinition(s) == s.size();
}

struct Case {
    const char* name;
    int invalidPercent; // chance that a piece is one of the invalid ones
    int asciiPercent;   // chance that a piece is one ASCII byte
};

} // namespace

TEST(Utf8Check, BothPathsAgreeWithTheDefinitionOnRandomTexts) {
    const std::vector<Case> cases = {
        {"valid Japanese-like", 0, 20}, {"valid mostly ASCII", 0, 95}, {"rare faults", 1, 50},
        {"frequent faults", 20, 40},    {"faults in ASCII", 2, 98},
    };
    std::vector<std::string> valid, invalid;
    for (const std::string& p : pieces()) {
        (isValidPiece(p) ? valid : invalid).push_back(p);
    }
    std::mt19937 rng(20261207);
    for (const Case& c : cases) {
        for (int round = 0; round < 400; ++round) {
            std::string text;
            const std::size_t want = std::uniform_int_distribution<std::size_t>(0, round < 200 ? 200 : 5000)(rng);
            while (text.size() < want) {
                const int roll = std::uniform_int_distribution<int>(0, 99)(rng);
                if (roll < c.invalidPercent) {
                    text += invalid[std::uniform_int_distribution<std::size_t>(0, invalid.size() - 1)(rng)];
                } else if (roll < c.invalidPercent + c.asciiPercent) {
                    text += static_cast<char>(std::uniform_int_distribution<int>(0x1B, 0x7E)(rng));
                } else {
                    text += valid[std::uniform_int_distribution<std::size_t>(0, valid.size() - 1)(rng)];
                }
            }
            const std::size_t expected = firstInvalidByDefinition(text);
            const bool hasAmp = text.find('&') != std::string::npos;
            for (const u8::Path path : {u8::Path::Scalar, u8::Path::Avx2, u8::Path::Avx512}) {
                ASSERT_EQ(u8::firstInvalid(text, path), expected) << c.name << " round " << round;
                const u8::Inspection seen = u8::inspect(text, path);
                ASSERT_EQ(seen.valid, expected == text.size()) << c.name << " round " << round;
                if (seen.valid) {
                    ASSERT_EQ(seen.hasAmpersand, hasAmp) << c.name << " round " << round;
                    ASSERT_EQ(seen.hasEscape, text.find('\x1B') != std::string::npos) << c.name << " round " << round;
                    ASSERT_EQ(seen.hasHigh, text.find_first_of(kHighBytes) != std::string::npos) << c.name;
                }
            }
        }
    }
}

// One fault of each kind placed at every offset around the first blocks,
// the stride boundary and the end, in ASCII and in Japanese surroundings.
TEST(Utf8Check, EachFaultAtEveryOffsetIsFoundExactly) {
    const std::vector<std::string> faults = {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                             "\xF5", "\xC2",     "\xE3\x81",     "\xF0\x90\x80", "\xFF"};
    const std::vector<std::string> fills = {"x", "\xE3\x81\x82", "&", "\x1B"};
    for (const std::string& fill : fills) {
        std::string base;
        while (base.size() < 1200) {
            base += fill;
        }
        for (const std::string& fault : faults) {
            for (std::size_t at = 0; at < base.size(); at += (at < 140 || (at > 980 && at < 1100) ? 1 : 37)) {
                // Put the fault at a character boundary of the fill.
                const std::size_t cut = at / fill.size() * fill.size();
                const std::string text = base.substr(0, cut) + fault + base.substr(cut);
                const std::size_t expected = firstInvalidByDefinition(text);
                ASSERT_LT(expected, text.size());
                for (const u8::Path path : {u8::Path::Scalar, u8::Path::Avx2, u8::Path::Avx512}) {
                    ASSERT_EQ(u8::firstInvalid(text, path), expected) << "fault at " << cut;
                    ASSERT_FALSE(u8::inspect(text, path).valid);
                }
            }
        }
        // Valid texts of every length up to past two blocks, cut at a
        // character boundary: valid; with the last character cut: invalid.
        // The empty view points nowhere.
        for (const u8::Path path : {u8::Path::Scalar, u8::Path::Avx2, u8::Path::Avx512}) {
            ASSERT_TRUE(u8::inspect(std::string_view(), path).valid);
            ASSERT_FALSE(u8::inspect(std::string_view(), path).hasAmpersand);
            ASSERT_EQ(u8::firstInvalid(std::string_view(), path), 0u);
        }
        for (std::size_t len = 0; len < 200; ++len) {
            const std::string text = base.substr(0, len / fill.size() * fill.size());
            for (const u8::Path path : {u8::Path::Scalar, u8::Path::Avx2, u8::Path::Avx512}) {
                ASSERT_TRUE(u8::inspect(text, path).valid) << len;
                const u8::Inspection seen = u8::inspect(text, path);
                ASSERT_EQ(seen.hasAmpersand, text.find('&') != std::string::npos) << len;
                ASSERT_EQ(seen.hasEscape, text.find('\x1B') != std::string::npos) << len;
                ASSERT_EQ(seen.hasHigh, fill.size() > 1 && !text.empty()) << len;
                if (fill.size() > 1 && !text.empty()) {
                    const std::string cutShort = text.substr(0, text.size() - 1);
                    ASSERT_EQ(u8::firstInvalid(cutShort, path), text.size() - fill.size()) << len;
                }
            }
        }
    }
}

TEST(Utf8Check, TheVectorPathsAreTestedWhereTheProcessorHasThem) {
    // On a processor without one, the calls above ran the portable path in
    // its place; say so rather than pass silently.
    if (!u8::avx2Available()) {
        GTEST_SKIP() << "no AVX2 on this processor: only the portable path was compared";
    }
    if (!u8::avx512Available()) {
        EXPECT_EQ(u8::bestPath(), u8::Path::Avx2);
        GTEST_SKIP() << "no AVX-512 on this processor: the 512-bit path was not compared";
    }
    EXPECT_EQ(u8::bestPath(), u8::Path::Avx512);
}
