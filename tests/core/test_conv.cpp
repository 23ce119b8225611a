#include "app/utf8Check.h"
#include "extract/convModule.h"
#include "support/core_japanese.h"

#include <gtest/gtest.h>

#include <vector>

#include <cerrno>
#include <iconv.h>
#include <random>
#include <stdexcept>
#include <string>

using quillon::Encoding;
namespace conv = quillon::convModule;
using quillon::testing::encode;
using quillon::testing::glibc;

namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

// Japanese text with addresses, the CP932 extensions that Japanese files use
// (①, ㈱, ～, －, ∵), half-width katakana, backslash and tilde.
const std::string kContent = "連絡先：山田太郎 <yamada.taro@example.co.jp>\n"
                             "①②③ ㈱テスト商事 10時～12時 －5℃ ∵ ｱｲｳｴｵ ﾃｽﾄ\n"
                             "C:\\Users\\taro\\mail.txt ~/inbox info-desk@mail.example.ne.jp\r\n"
                             "お問い合わせは support_2@example.com まで。\n";

class EachEncoding : public ::testing::TestWithParam<Encoding> {};

TEST_P(EachEncoding, SameContentGivesTheSameUtf8) {
    const std::string bytes = encode(kContent, GetParam());
    const auto r = conv::convToUTF8(bytes, GetParam());
    EXPECT_EQ(r.text, kContent);
    EXPECT_EQ(r.invalid, 0u);
    EXPECT_EQ(r.used, GetParam());
}

TEST_P(EachEncoding, OneInvalidByteInTheMiddleLosesNothingAfterIt) {
    const std::string head = "前半 first@example.jp ";
    const std::string tail = "後半 ①～ second@example.jp\n";
    const std::string bytes = encode(head, GetParam()) + "\xFF" + encode(tail, GetParam());
    const auto r = conv::convToUTF8(bytes, GetParam());
    EXPECT_EQ(r.text, head + kFFFD + tail);
    EXPECT_EQ(r.invalid, 1u);
}

TEST_P(EachEncoding, TruncatedCharacterAtTheEnd) {
    std::string bytes = encode("住所 a@b.jp テ", GetParam());
    // Drop the last byte of the last character (for ISO-2022-JP, the
    // closing escape sequence goes first).
    if (GetParam() == Encoding::ISO2022JP) {
        bytes.resize(bytes.size() - 3);
    }
    bytes.pop_back();
    const auto r = conv::convToUTF8(bytes, GetParam());
    EXPECT_EQ(r.text, "住所 a@b.jp " + kFFFD);
    EXPECT_EQ(r.invalid, 1u);
}

TEST_P(EachEncoding, EmptyInput) {
    const auto r = conv::convToUTF8("", GetParam());
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.invalid, 0u);
}

TEST_P(EachEncoding, LargeTextConvertsWhole) {
    // Half-width katakana gives three UTF-8 bytes per input byte: the output
    // buffer must grow without cutting anything.
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "ｱｲｳｴｵｶｷｸｹｺ user" + std::to_string(i) + "@example.jp 日本語\n";
    }
    const auto r = conv::convToUTF8(encode(text, GetParam()), GetParam());
    EXPECT_EQ(r.invalid, 0u);
    EXPECT_TRUE(r.text == text) << "sizes " << r.text.size() << " and " << text.size();
}

INSTANTIATE_TEST_SUITE_P(Conv, EachEncoding,
                         ::testing::Values(Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8, Encoding::ISO2022JP),
                         [](const auto& p) {
                             switch (p.param) {
                             case Encoding::ShiftJIS:
                                 return std::string("ShiftJIS");
                             case Encoding::EucJP:
                                 return std::string("EucJP");
                             case Encoding::UTF8:
                                 return std::string("UTF8");
                             default:
                                 return std::string("ISO2022JP");
                             }
                         });

struct InvalidCase {
    const char* name;
    Encoding enc;
    std::string bytes;
    std::string expected;
    std::size_t invalid;
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
    *os << c.name;
}

class InvalidSequences : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidSequences, EachBecomesOneReplacement) {
    const auto& c = GetParam();
    const auto r = conv::convToUTF8(c.bytes, c.enc);
    EXPECT_EQ(r.text, c.expected);
    EXPECT_EQ(r.invalid, c.invalid);
}

const std::string R = kFFFD;

INSTANTIATE_TEST_SUITE_P(
    Repair, InvalidSequences,
    ::testing::Values(
        // Shift_JIS: an ASCII byte after a bad first byte is kept.
        InvalidCase{"SjisLeadThenSpace", Encoding::ShiftJIS, "\x81 a@b.jp", R + " a@b.jp", 1},
        InvalidCase{"SjisUnassignedWithAsciiTrail", Encoding::ShiftJIS, "x\x85@y.jp", "x" + R + "@y.jp", 1},
        InvalidCase{"SjisUnassignedPair", Encoding::ShiftJIS, "x\x85\x9Fy", "x" + R + "y", 1},
        InvalidCase{"SjisBytesNeverLeading", Encoding::ShiftJIS, "\x80\xA0\xFD\xFE\xFFz", R + R + R + R + R + "z", 5},
        InvalidCase{"SjisLoneLeadAtEnd", Encoding::ShiftJIS, "abc\x83", "abc" + R, 1},
        // EUC-JP.
        InvalidCase{"EucLeadThenAscii", Encoding::EucJP, "\xA4x@y.jp", R + "x@y.jp", 1},
        InvalidCase{"EucCutThreeByteAtEnd", Encoding::EucJP, "ab\x8F\xA2", "ab" + R, 1},
        InvalidCase{"EucJisX0212", Encoding::EucJP, "\x8F\xA2\xAF", "˘", 0},
        // UTF-8: one replacement per maximal invalid part.
        InvalidCase{"Utf8CutAtEnd", Encoding::UTF8, "ab\xE3\x81", "ab" + R, 1},
        InvalidCase{"Utf8CutBeforeAscii", Encoding::UTF8, "\xE3\x81x@y.jp", R + "x@y.jp", 1},
        InvalidCase{"Utf8Overlong", Encoding::UTF8, "\xC0\xAF/", R + R + "/", 2},
        InvalidCase{"Utf8Surrogate", Encoding::UTF8, "\xED\xA0\x80!", R + R + R + "!", 3},
        InvalidCase{"Utf8AboveUnicode", Encoding::UTF8, "\xF4\x90\x80\x80", R + R + R + R, 4},
        InvalidCase{"Utf8StrayContinuation", Encoding::UTF8, "a\x80\xBF b", "a" + R + R + " b", 2},
        // ISO-2022-JP.
        InvalidCase{"IsoEightBitByte", Encoding::ISO2022JP,
                    "a\x80"
                    "b",
                    "a" + R + "b", 1},
        InvalidCase{"IsoHalfPairAtEnd", Encoding::ISO2022JP, "\x1B$B%F%", "テ" + R, 1},
        InvalidCase{"IsoHalfPairBeforeEscape", Encoding::ISO2022JP, "\x1B$B%\x1B(Bx@y.jp", R + "x@y.jp", 1},
        InvalidCase{"IsoLineEndInKanjiMode", Encoding::ISO2022JP, "\x1B$B%F\n%9", "テ\nス", 0},
        InvalidCase{"IsoUnknownEscape", Encoding::ISO2022JP, "\x1B(Zab", R + "(Zab", 1},
        InvalidCase{"IsoCutEscape", Encoding::ISO2022JP, "ab\x1B$", "ab" + R + "$", 1},
        InvalidCase{"IsoRomanIsAscii", Encoding::ISO2022JP, "\x1B(J\\~a@b.jp", "\\~a@b.jp", 0},
        InvalidCase{"IsoJis1978", Encoding::ISO2022JP, "\x1B$@%F\x1B(B", "テ", 0},
        InvalidCase{"IsoShiftOutKatakana", Encoding::ISO2022JP,
                    "a\x0E\x31\x32\x0F"
                    "b",
                    "aｱｲb", 0},
        InvalidCase{"IsoJisX0212", Encoding::ISO2022JP, "\x1B$(D\"/\x1B(B", "˘", 0},
        InvalidCase{"IsoJisX0213", Encoding::ISO2022JP, "\x1B$(Q-!\x1B(Bx", "①x", 0},
        InvalidCase{"IsoGb2312", Encoding::ISO2022JP, "\x1B$A0!\x1B(Bx", "啊x", 0},
        // UTF-16 bytes with a byte-order mark.
        InvalidCase{"Utf16BigEndian", Encoding::UTF16, std::string("\xFE\xFF\x30\xC6\x00\x40", 6), "\xEF\xBB\xBFテ@",
                    0},
        InvalidCase{"Utf16OddByte", Encoding::UTF16, std::string("\xFF\xFE\x41\x00\x42", 5),
                    "\xEF\xBB\xBF"
                    "A" +
                        R,
                    1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ConvToUTF8, GlibcIso2022JpOutputReadsAsGlibcReadsIt) {
    // Text written by glibc's own ISO-2022-JP encoder, with no character whose
    // mapping differs between the JIS and Microsoft tables.
    const std::string text = "日本語のテキスト user@example.jp です。\n２行目\n";
    const std::string bytes = glibc(text, "ISO-2022-JP", "UTF-8");
    EXPECT_EQ(conv::convToUTF8(bytes, Encoding::ISO2022JP).text, text);
}

TEST(ConvToUTF8, ValidUtf8IsCopiedUnchanged) {
    const std::string text = "\xEF\xBB\xBFテキスト\0with nul 𝄞 ok"; // BOM and a four-byte character
    const auto r = conv::convToUTF8(text, Encoding::UTF8);
    EXPECT_EQ(r.text, text);
    EXPECT_EQ(r.invalid, 0u);
}

// Buffers with nothing after their last byte (a std::string would have its
// terminating NUL there), so that a read past the end is caught under
// AddressSanitizer: ASCII texts ending on and around the 8- and 32-byte steps
// of the validity check.
TEST(ConvToUTF8, AsciiTextsEndingOnTheCheckSteps) {
    for (std::size_t size : {1, 7, 8, 9, 31, 32, 33, 64, 65, 72}) {
        const std::vector<char> bytes(size, 'a');
        const std::string_view text(bytes.data(), bytes.size());
        EXPECT_TRUE(quillon::convModule::isValidUtf8(text)) << size;
        const auto result = quillon::convModule::convToUTF8(text, quillon::Encoding::UTF8);
        EXPECT_EQ(result.text, std::string(size, 'a')) << size;
        EXPECT_EQ(result.invalid, 0u) << size;
    }
}

TEST(Utf16ToUTF8, PairsAndUnpairedSurrogates) {
    EXPECT_EQ(conv::utf16ToUTF8(u"テスト a@b.jp"), "テスト a@b.jp");
    EXPECT_EQ(conv::utf16ToUTF8(u"\U0001D11E"), "𝄞");
    const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00, 0};
    EXPECT_EQ(conv::utf16ToUTF8(lone), "x" + kFFFD + "y" + kFFFD);
    const char16_t highAtEnd[] = {u'z', 0xDBFF, 0};
    EXPECT_EQ(conv::utf16ToUTF8(highAtEnd), "z" + kFFFD);
    EXPECT_EQ(conv::utf16ToUTF8(u""), "");
}

TEST(ConvToSJIS, RoundTripOfCp932Content) {
    const std::string sjis = encode(kContent, Encoding::ShiftJIS);
    const auto back = conv::convToSJIS(kContent);
    EXPECT_EQ(back.bytes, sjis);
    EXPECT_EQ(back.replaced, 0u);
    EXPECT_EQ(conv::convToUTF8(back.bytes, Encoding::ShiftJIS).text, kContent);
}

TEST(ConvToSJIS, CharactersWithoutAFormBecomeQuestionMarks) {
    const auto r = conv::convToSJIS("caf\xC3\xA9 😀 ① a@b.jp 한");
    EXPECT_EQ(r.bytes, "caf? ? \x87\x40 a@b.jp ?");
    EXPECT_EQ(r.replaced, 3u);
    // The JIS forms of ～ and － reach their CP932 codes.
    EXPECT_EQ(conv::convToSJIS("〜−").bytes, "\x81\x60\x81\x7C");
    EXPECT_EQ(conv::convToSJIS("").bytes, "");
    // Bytes that are not UTF-8 at the very end are replaced, not dropped.
    const auto cut = conv::convToSJIS("ab\xE3\x81");
    EXPECT_EQ(cut.bytes, "ab?");
    EXPECT_EQ(cut.replaced, 1u);
    // The tag characters (U+E0000 to U+E007F), which the C library's
    // converter drops without a word, become "?" as well; a cut one too.
    const auto tags = conv::convToSJIS("a\xF3\xA0\x80\xBD"
                                       "b\xF3\xA0\x81\xBF\xF3\xF3\xA0\x80\x80\xE3\x81\x82\xF3\xA0\x80");
    EXPECT_EQ(tags.bytes, "a?b???\x82\xA0?");
    EXPECT_EQ(tags.replaced, 5u);
}

// The plain conversion: the converter over the whole text, one "?" for each
// character it refuses and for each invalid sequence, tag characters as "?".
conv::SjisResult plainSjis(std::string_view utf8) {
    conv::SjisResult r;
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        const auto* p = reinterpret_cast<const unsigned char*>(in);
        if (inLeft >= 4 && p[0] == 0xF3 && p[1] == 0xA0 && (p[2] == 0x80 || p[2] == 0x81) && p[3] >= 0x80 &&
            p[3] <= 0xBF) {
            *o++ = '?';
            --outLeft;
            ++r.replaced;
            in += 4;
            inLeft -= 4;
            continue;
        }
        // One character at a time, so that a tag character is seen first.
        std::size_t bad = 0;
        std::size_t len = quillon::utf8Check::sequence(p, inLeft, bad);
        if (len == 0) {
            *o++ = '?';
            --outLeft;
            ++r.replaced;
            in += bad;
            inLeft -= bad;
            continue;
        }
        std::size_t left = len;
        if (iconv(cd, &in, &left, &o, &outLeft) == static_cast<std::size_t>(-1)) {
            *o++ = '?';
            --outLeft;
            ++r.replaced;
            in += left;
        }
        inLeft -= len;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    r.bytes = out;
    return r;
}

TEST(ConvToSJIS, MatchesThePlainConversionOnMixedText) {
    static const char* const kParts[] = {
        "a@b.jp ",      "\\~",         "\t\r\n", "\x01\x7F", "連絡", "ｱｲ",   "①㈱",      "〜−",
        "caf\xC3\xA9",  "😀",           "한",     "\xE3\x81", "\xFF", "\xC3", "\x80\x80", "\xF3\xA0\x80\xBD",
        "\xF3\xA0\x80", "\xEF\xBB\xBF"};
    std::mt19937 rng(3);
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int i = static_cast<int>(rng() % 12); i > 0; --i) {
            text += kParts[rng() % std::size(kParts)];
        }
        const auto fast = conv::convToSJIS(text);
        const auto plain = plainSjis(text);
        ASSERT_EQ(fast.bytes, plain.bytes) << "round " << round;
        ASSERT_EQ(fast.replaced, plain.replaced) << "round " << round;
    }
}

TEST(GuessSample, CutAt2048BytesEvenInsideACharacter) {
    std::string raw = "a";
    while (raw.size() < 3000) {
        raw += "日本";
    }
    const std::string sample = conv::guessSample(raw);
    ASSERT_EQ(sample.size(), 2048u);
    EXPECT_EQ(sample, raw.substr(0, 2048));
    // 1 + 3k bytes: 2048 = 1 + 3 * 682 + 1, so the cut falls inside "日".
    EXPECT_EQ(static_cast<unsigned char>(sample.back()), 0xE6);
    EXPECT_EQ(conv::guessSample("short"), "short");
    EXPECT_EQ(conv::guessSample(""), "");
}

const std::string kParagraph =
    "拝啓　時下ますますご清栄のこととお慶び申し上げます。平素は格別のお引き立てを賜り、厚く御礼申し上げます。"
    "さて、このたび弊社では新しい窓口を開設いたしました。お問い合わせは下記のアドレスまでお送りください。"
    "担当者が順次ご返信いたします。今後ともよろしくお願い申し上げます。敬具\n"
    "窓口: contact@example.co.jp\n";

class GuessEach : public ::testing::TestWithParam<Encoding> {};

TEST_P(GuessEach, NamesTheEncodingOfAJapaneseSample) {
    const std::string bytes = encode(kParagraph, GetParam());
    ASSERT_LT(bytes.size(), 700u);
    EXPECT_EQ(conv::guessEncoding(conv::guessSample(bytes)), GetParam());
    // Guessing converts the whole text from the guess.
    const auto r = conv::convToUTF8(bytes, Encoding::None, conv::guessSample(bytes));
    EXPECT_EQ(r.used, GetParam());
    EXPECT_EQ(r.text, kParagraph);
}

TEST_P(GuessEach, SampleCutInsideACharacter) {
    std::string text;
    while (text.size() < 4000) {
        text += kParagraph;
    }
    // ASCII in front moves the 2,048-byte cut to each place inside a character.
    for (const std::string pad : {"", "a", "ab"}) {
        const std::string bytes = encode(pad + text, GetParam());
        EXPECT_EQ(conv::guessEncoding(conv::guessSample(bytes)), GetParam()) << '"' << pad << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(Guess, GuessEach,
                         ::testing::Values(Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8, Encoding::ISO2022JP));

TEST(GuessEncoding, SevenBitSamples) {
    EXPECT_EQ(conv::guessEncoding(""), Encoding::UTF8);
    EXPECT_EQ(conv::guessEncoding("plain ascii mail@example.com\n"), Encoding::UTF8);
    EXPECT_EQ(conv::guessEncoding("Subject: \x1B$B%F%9%H\x1B(B\n"), Encoding::ISO2022JP);
    EXPECT_EQ(conv::convToUTF8("", Encoding::None, "").text, "");
}

} // namespace
