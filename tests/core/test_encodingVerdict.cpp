#include "extract/encodingVerdict.h"
#include "extract/pipeline.h"
#include "support/core_japanese.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using quillon::Encoding;
namespace ev = quillon::encodingVerdict;
using quillon::testing::encode;
using Kind = ev::Verdict::Kind;

namespace {

const Encoding kEncodings[] = {Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8, Encoding::ISO2022JP};

const std::string kParagraph =
    "拝啓　時下ますますご清栄のこととお慶び申し上げます。平素は格別のお引き立てを賜り、厚く御礼申し上げます。"
    "さて、このたび弊社では新しい窓口を開設いたしました。お問い合わせは下記のアドレスまでお送りください。\n"
    "窓口: contact@example.co.jp ①㈱～ ｱｲｳ\n";

// A mail whose first 2,048 bytes and more are ASCII headers.
std::string asciiHeaded(const std::string& body) {
    std::string mail = "From: sender@example.com\nTo: list@example.jp\nSubject: notice\n";
    for (int i = 0; mail.size() < 2300; ++i) {
        mail += "Received: from relay" + std::to_string(i) + ".example.net by mx.example.jp; Mon, 1 Jan 2024\n";
    }
    return mail + "\n" + body;
}

std::string repeated(const std::string& text, std::size_t size) {
    std::string out;
    while (out.size() < size) {
        out += text;
    }
    return out;
}

// Each Japanese text, stored in each encoding, is judged to be in that
// encoding: it fits that choice and no other, and a guess takes it.
TEST(EncodingVerdict, EachEncodingFitsOnlyItself) {
    const std::vector<std::string> texts = {
        kParagraph,
        "メール：hanako@example.jp",
        "連絡先ab@x.jp",
        "お問い合わせ cd@y.jp\n",
        "を賜り、 ab@x.jp", // in EUC-JP as valid in Shift_JIS as in EUC-JP
        "ご連絡は担当（tanaka@example.co.jp）まで。",
        asciiHeaded(kParagraph),
        asciiHeaded("本文です。連絡先ab@x.jp\n"),
        repeated(kParagraph, 3u << 20),
        asciiHeaded(repeated("営業部の新しい窓口です。返信は window@example.ne.jp へ。\n", 400000)),
    };
    for (const std::string& text : texts) {
        for (const Encoding enc : kEncodings) {
            const std::string bytes = encode(text, enc);
            const ev::Verdict v = ev::judge(bytes);
            const std::string where = text.substr(0, 40) + " (" + std::to_string(text.size()) + " bytes) in " +
                                      std::to_string(static_cast<int>(enc));
            EXPECT_EQ(v.kind, Kind::Text) << where;
            EXPECT_EQ(v.likely, enc) << where;
            EXPECT_EQ(v.guess(), enc) << where;
            for (const Encoding choice : kEncodings) {
                EXPECT_EQ(v.fits(choice), choice == enc) << where << " read as " << static_cast<int>(choice);
            }
        }
    }
}

TEST(EncodingVerdict, AsciiEmptyAndBinary) {
    struct Row {
        std::string bytes;
        Kind kind;
        Encoding likely;
    };
    std::mt19937 random(7);
    std::string noise(1 << 16, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    std::string highNoise; // no NUL, and no escape sequence by chance
    for (char c : noise) {
        if (c != '\0' && c != '\x1B') {
            highNoise += c;
        }
    }
    const Row rows[] = {
        {"", Kind::Ascii, Encoding::None},
        {"plain mail@example.com\r\n", Kind::Ascii, Encoding::None},
        {asciiHeaded("body only in ASCII, reply to a@b.jp\n"), Kind::Ascii, Encoding::None},
        // An escape back to ASCII alone still says ISO-2022-JP: read as
        // anything else its "B" joins the address after it.
        {"\x1B(Bab@x.jp\n", Kind::Text, Encoding::ISO2022JP},
        {"Subject: \x1B$B%F%9%H\x1B(B\n", Kind::Text, Encoding::ISO2022JP},
        {noise, Kind::Binary, Encoding::None},
        {highNoise, Kind::Binary, Encoding::None},
        {std::string("PK\x03\x04\0\0\0\0a@b.jp", 14), Kind::Binary, Encoding::None},
    };
    for (const Row& row : rows) {
        const ev::Verdict v = ev::judge(row.bytes);
        EXPECT_EQ(v.kind, row.kind) << row.bytes.substr(0, 30);
        EXPECT_EQ(v.likely, row.likely) << row.bytes.substr(0, 30);
        EXPECT_EQ(v.guess(), row.kind == Kind::Text ? row.likely : Encoding::UTF8);
        for (const Encoding choice : kEncodings) {
            EXPECT_EQ(v.fits(choice), row.kind == Kind::Ascii || choice == row.likely);
        }
    }
}

// Fed in any pieces that do not cut a character (cut after line ends, spaces
// and control bytes, so also inside escape sequences), the verdict is that of
// the whole text.
TEST(EncodingVerdict, PiecesGiveTheVerdictOfTheWhole) {
    const std::string text = repeated(kParagraph + "連絡 ab@x.jp, 担当\tcd@y.jp\n", 20000);
    for (const Encoding enc : kEncodings) {
        const std::string bytes = encode(text, enc);
        ev::Evidence whole;
        whole.feed(bytes);
        const ev::Verdict expected = whole.verdict();
        ASSERT_EQ(expected.likely, enc);
        for (const std::size_t step : {1u, 7u, 100u, 4096u}) {
            ev::Evidence pieces;
            std::size_t from = 0;
            std::size_t cuts = 0;
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                const auto b = static_cast<unsigned char>(bytes[i]);
                if ((b <= 0x20) && ++cuts % step == 0) {
                    pieces.feed(std::string_view(bytes).substr(from, i + 1 - from));
                    from = i + 1;
                }
            }
            pieces.feed(std::string_view(bytes).substr(from));
            const ev::Verdict got = pieces.verdict();
            EXPECT_TRUE(pieces.settled());
            EXPECT_EQ(got.kind, expected.kind) << step;
            EXPECT_EQ(got.likely, expected.likely) << step;
        }
    }
}

// A reader that has already checked a piece as valid UTF-8 without escapes
// hands on only what it saw: the same verdict as reading the piece.
TEST(EncodingVerdict, NotedValidUtf8IsReadValidUtf8) {
    for (const std::string& text : {std::string("plain a@b.jp\n"), kParagraph}) {
        ev::Evidence noted;
        noted.feedValidUtf8(text.size(), text.find_first_of("\xE3\xEF") != std::string::npos);
        noted.feed("\x82\xA0 Shift_JIS after it\n");
        const ev::Verdict read = ev::judge(text + "\x82\xA0 Shift_JIS after it\n");
        EXPECT_EQ(noted.verdict().likely, read.likely) << text;
        EXPECT_EQ(noted.verdict().kind, read.kind) << text;
    }
}

// Through the search road: guessed from the whole text, every body encoding
// of a mail (ASCII-headed or not) gives exactly its addresses, with no "B" of
// an escape sequence and no second byte of a Shift_JIS character joined to
// one; read with the wrong choice, the source is reported as not fitting it.
TEST(EncodingVerdict, GuessedSourcesGiveExactAddresses) {
    const std::string body = "メール：hanako@example.jp\n連絡先ab@x.jp、ボスcd@y.jp、アef@z.jp\n";
    const std::vector<std::string> expected = {"hanako@example.jp", "ab@x.jp", "cd@y.jp", "ef@z.jp"};
    std::vector<std::string> headed = {"sender@example.com", "list@example.jp"};
    headed.insert(headed.end(), expected.begin(), expected.end());
    for (const Encoding enc : kEncodings) {
        for (const bool withHeaders : {false, true}) {
            const std::string bytes = encode(withHeaders ? asciiHeaded(body) : body, enc);
            for (const Encoding choice :
                 {Encoding::None, Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8, Encoding::ISO2022JP}) {
                std::vector<std::string> found;
                const auto scan = quillon::pipeline::extractFromBytes(
                    bytes, choice, {}, [&](std::string_view a) { found.emplace_back(a); });
                const std::string where = std::to_string(static_cast<int>(enc)) + " read as " +
                                          std::to_string(static_cast<int>(choice)) + (withHeaders ? " headed" : "");
                EXPECT_EQ(scan.fits(), choice == Encoding::None || choice == enc) << where;
                EXPECT_EQ(scan.verdict.likely, enc) << where;
                if (choice == Encoding::None || choice == enc) {
                    EXPECT_EQ(scan.used, enc) << where;
                    EXPECT_EQ(found, withHeaders ? headed : expected) << where;
                }
            }
        }
    }
}

} // namespace
