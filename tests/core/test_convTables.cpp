// The table decoding of Shift_JIS and EUC-JP (alone and inside ISO-2022-JP)
// against the glibc converters run character by character, on texts built
// from valid characters, every kind of broken sequence, and line ends.
#include "extract/convDetail.h"
#include "extract/convModule.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace conv = quillon::convModule;
using quillon::Encoding;

namespace {

std::string randomBytes(std::mt19937& rng, Encoding enc, std::size_t size, int faultPercent) {
    std::string s;
    const auto pick = [&](int lo, int hi) {
        return static_cast<char>(std::uniform_int_distribution<int>(lo, hi)(rng));
    };
    const auto roll = [&] { return std::uniform_int_distribution<int>(0, 99)(rng); };
    bool inJis = false;
    while (s.size() < size) {
        const int r = roll();
        if (r < faultPercent) {
            // Any byte at all, a lone lead, a lead before a line end.
            switch (roll() % 4) {
            case 0:
                s += pick(0, 255);
                break;
            case 1:
                s += pick(0x80, 0xFF);
                break;
            case 2:
                s += pick(0x80, 0xFF);
                s += '\n';
                break;
            default:
                s += pick(0x80, 0xFF);
                s += pick(0x00, 0x7F);
                break;
            }
            continue;
        }
        if (r < 30) {
            s += roll() < 15 ? '\n' : pick(0x20, 0x7E);
            continue;
        }
        switch (enc) {
        case Encoding::ShiftJIS:
            if (roll() < 10) {
                s += pick(0xA1, 0xDF); // half-width katakana
            } else {
                s += roll() < 80 ? pick(0x81, 0x9F) : pick(0xE0, 0xFC);
                s += roll() < 50 ? pick(0x40, 0x7E) : pick(0x80, 0xFC);
            }
            break;
        case Encoding::EucJP:
            if (roll() < 5) {
                s += '\x8E';
                s += pick(0xA1, 0xDF);
            } else if (roll() < 5) {
                s += '\x8F';
                s += pick(0xA1, 0xFE);
                s += pick(0xA1, 0xFE);
            } else {
                s += pick(0xA1, 0xFE);
                s += pick(0xA1, 0xFE);
            }
            break;
        default: // ISO-2022-JP
            if (roll() < 10) {
                inJis = !inJis;
                s += inJis ? (roll() < 50 ? "\x1B$B" : "\x1B$@") : (roll() < 80 ? "\x1B(B" : "\x1B(J");
            } else if (roll() < 2) {
                s += roll() < 50 ? "\x1B(I" : "\x0E";
                s += pick(0x21, 0x5F);
                s += roll() < 50 ? "\x1B(B" : "\x0F";
                inJis = false;
            } else if (inJis) {
                s += pick(0x21, 0x7E);
                s += pick(0x21, 0x7E);
            } else {
                s += pick(0x21, 0x7E);
            }
            break;
        }
    }
    return s;
}

} // namespace

TEST(ConvTables, SameTextAndCountAsTheConvertersAlone) {
    struct Case {
        Encoding enc;
        std::size_t size;
        int faultPercent;
        int rounds;
    };
    const std::vector<Case> cases = {
        {Encoding::ShiftJIS, 40, 5, 2000},    {Encoding::ShiftJIS, 3000, 1, 200},  {Encoding::ShiftJIS, 100000, 0, 3},
        {Encoding::ShiftJIS, 100000, 20, 3},  {Encoding::EucJP, 40, 5, 2000},      {Encoding::EucJP, 3000, 1, 200},
        {Encoding::EucJP, 100000, 0, 3},      {Encoding::EucJP, 100000, 20, 3},    {Encoding::ISO2022JP, 40, 5, 2000},
        {Encoding::ISO2022JP, 3000, 1, 200},  {Encoding::ISO2022JP, 100000, 0, 3}, {Encoding::ISO2022JP, 100000, 20, 3},
        {Encoding::ISO2022JP, 3000000, 0, 1}, // more than the reader hands on at once
    };
    std::mt19937 rng(77);
    for (const Case& c : cases) {
        for (int round = 0; round < c.rounds; ++round) {
            const std::string bytes = randomBytes(rng, c.enc, c.size, c.faultPercent);
            const conv::ConvResult fast = conv::convToUTF8(bytes, c.enc);
            const conv::ConvResult slow = conv::convToUTF8WithoutTables(bytes, c.enc);
            ASSERT_EQ(fast.invalid, slow.invalid)
                << static_cast<int>(c.enc) << " size " << c.size << " round " << round;
            ASSERT_TRUE(fast.text == slow.text) << static_cast<int>(c.enc) << " size " << c.size << " round " << round;
        }
    }
}

// Every two-byte sequence once, each on a line of its own and all in one line.
TEST(ConvTables, EveryPairOfBytes) {
    for (const Encoding enc : {Encoding::ShiftJIS, Encoding::EucJP}) {
        std::string lines, run;
        for (int b0 = 0; b0 < 256; ++b0) {
            for (int b1 = 0; b1 < 256; ++b1) {
                lines += static_cast<char>(b0);
                lines += static_cast<char>(b1);
                lines += '\n';
                run += static_cast<char>(b0);
                run += static_cast<char>(b1);
            }
        }
        for (const std::string& bytes : {lines, run}) {
            const conv::ConvResult fast = conv::convToUTF8(bytes, enc);
            const conv::ConvResult slow = conv::convToUTF8WithoutTables(bytes, enc);
            EXPECT_EQ(fast.invalid, slow.invalid);
            EXPECT_TRUE(fast.text == slow.text);
        }
    }
}

// A long ISO-2022-JP text of two-byte characters reads without a fault and
// as the same text in Shift_JIS does: the reader hands its pending bytes on
// between characters, never between the two bytes of one.
TEST(ConvTables, LongIso2022JpTextHasNoFault) {
    std::string jis = "\x1B$B";
    std::string sjis;
    for (int k = 0; jis.size() < (std::size_t{3} << 20); ++k) {
        const int row = 0x30 + k % 31; // the full rows of kanji
        const int cell = 0x21 + k % 94;
        jis += static_cast<char>(row);
        jis += static_cast<char>(cell);
        const unsigned s1 = ((row + 1u) >> 1) + (row <= 0x5E ? 0x70u : 0xB0u);
        const unsigned s2 = (row & 1) ? cell + (cell >= 0x60 ? 0x20u : 0x1Fu) : cell + 0x7Eu;
        sjis += static_cast<char>(s1);
        sjis += static_cast<char>(s2);
        if (k % 1001 == 0) {
            jis += "\x1B(Ba\x1B$B"; // an odd number of bytes now and then
            sjis += "a";
        }
    }
    jis += "\x1B(B";
    const conv::ConvResult fromJis = conv::convToUTF8(jis, Encoding::ISO2022JP);
    const conv::ConvResult fromSjis = conv::convToUTF8(sjis, Encoding::ShiftJIS);
    EXPECT_EQ(fromJis.invalid, 0u);
    EXPECT_EQ(fromSjis.invalid, 0u);
    EXPECT_TRUE(fromJis.text == fromSjis.text);
}

// The tables compiled into the program are the ones the builder makes from
// this machine's converters, entry for entry, and hold what the two encodings
// are known to hold.
TEST(ConvTables, BuiltTablesMatchTheConverters) {
    namespace d = conv::detail;
    struct Case {
        const d::DecodeTable& built;
        const char* from;
        d::SkipRule rule;
        unsigned first, second; // a pair that reads as U+3042 (あ)
    };
    for (const Case& c : {Case{d::kCp932Table, d::kCp932, d::SkipRule::Cp932, 0x82, 0xA0},
                          Case{d::kEucJpTable, d::kEucJp, d::SkipRule::EucJp, 0xA4, 0xA2}}) {
        const d::DecodeTable fresh = d::buildTable(c.from, c.rule);
        EXPECT_TRUE(c.built.single == fresh.single) << c.from;
        EXPECT_TRUE(c.built.pair == fresh.pair) << c.from;
        EXPECT_EQ(c.built.asciiSame, fresh.asciiSame) << c.from;
        EXPECT_TRUE(c.built.asciiSame) << c.from;
        EXPECT_EQ(c.built.pairAt(c.first, c.second), 0x3u << 24 | 0x82u << 16 | 0x81u << 8 | 0xE3u) << c.from;
    }
}
