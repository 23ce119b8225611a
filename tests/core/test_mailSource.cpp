// Hand-made mails read as a mail reader shows them: which addresses their
// texts give, and that their Japanese text comes out right.
#include "extract/convModule.h"
#include "extract/mailSource.h"
#include "extract/pipeline.h"
#include "extract/searchRun.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace mail = quillon::mailSource;
namespace pipeline = quillon::pipeline;
using quillon::Encoding;

namespace {

// UTF-8 text in another charset, through glibc's converter.
std::string encoded(const std::string& utf8, const char* charset) {
    iconv_t cd = iconv_open(charset, "UTF-8");
    std::string out(utf8.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t oLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &oLeft);
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    iconv_close(cd);
    out.resize(out.size() - oLeft);
    return out;
}

std::string base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        if (i + 2 < bytes.size()) {
            v |= static_cast<unsigned char>(bytes[i + 2]);
        }
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
        if ((i / 3 + 1) % 19 == 0) {
            out += "\r\n";
        }
    }
    return out + "\r\n";
}

// Quoted-printable with a soft break every 40 characters of output, wherever
// it falls (inside addresses too).
std::string quotedPrintable(const std::string& bytes) {
    std::string out;
    std::size_t column = 0;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        std::string piece;
        if (c == '\n') {
            out += "\r\n";
            column = 0;
            continue;
        }
        if (u < 32 || u >= 127 || c == '=') {
            static const char* hex = "0123456789ABCDEF";
            piece = {'=', hex[u >> 4], hex[u & 15]};
        } else {
            piece = std::string(1, c);
        }
        if (column + piece.size() > 40) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    }
    return out + "\r\n";
}

// An encoded word of a header ("=?charset?B?...?=").
std::string encodedWord(const char* charset, const std::string& bytes) {
    std::string b = base64(bytes);
    std::erase(b, '\r');
    std::erase(b, '\n');
    return std::string("=?") + charset + "?B?" + b + "?=";
}

struct Read {
    std::set<std::string> addresses;
    std::string text; // all messages' texts
    std::vector<std::string> labels;
    bool damaged = false;
};

Read readAll(const std::string& bytes, Encoding enc = Encoding::ShiftJIS) {
    Read r;
    const bool finished = mail::readMail(bytes, enc, [&](mail::MailMessage&& m) {
        r.labels.push_back(mail::messageLabel(m));
        r.damaged = r.damaged || m.damaged;
        EXPECT_TRUE(quillon::convModule::isValidUtf8(m.text));
        pipeline::extractAddresses(m.text, [&](std::string_view a) { r.addresses.emplace(a); });
        r.text += m.text;
    });
    EXPECT_TRUE(finished);
    return r;
}

const std::string kJapanese = "山田太郎です。ご連絡は";
const std::string kBody = kJapanese + " taro.yamada@example.jp まで。\n二行目 hanako-suzuki@mail.example.co.jp\n";

std::string singlePart(const char* charset, const char* transfer, const std::string& body) {
    return std::string("Received: from a.example.net by b.example.net; Mon, 1 Jan 2024 10:00:00 +0900\r\n"
                       "Received: from c.example.net by a.example.net; Mon, 1 Jan 2024 09:59:00 +0900\r\n"
                       "From: sender@example.org\r\nTo: dest@example.net\r\nSubject: test\r\n"
                       "Message-ID: <m1@example.org>\r\nMIME-Version: 1.0\r\n") +
           "Content-Type: text/plain; charset=" + charset + "\r\nContent-Transfer-Encoding: " + transfer + "\r\n\r\n" +
           body;
}

} // namespace

TEST(MailSource, LooksLikeMail) {
    struct Case {
        const char* start;
        bool mail;
    };
    const Case cases[] = {
        {"From: a@example.jp\nTo: b@example.jp\nSubject: x\n\nbody\n", true},
        {"Received: from mx by host; Mon, 1 Jan 2024 10:00:00 +0900\r\n\tfolded\r\nMessage-ID: <x@y>\r\n\r\n", true},
        {"From taro@example.jp Mon Jan  1 12:00:00 2024\nReturn-Path: <taro@example.jp>\nX-Other: 1\n", true},
        {"X-Spam: no\nContent-Type: text/plain\nMIME-Version: 1.0\nX-Cut: li", true}, // a cut last line is not read
        {"本文だけのテキスト taro@example.jp\nFrom: a\nTo: b\n", false},
        {"From now on, write to taro@example.jp\nSubject: x\n", false},
        {"Subject: only one mail header\n\nbody\n", false},
        {"To: all staff\nhello world\nFrom: me\n", false}, // a line that is no header
        {"Note: a\nTodo: b\nName: c\n\n", false},          // no mail header names
        {" From: a\nTo: b\n", false},                      // starts with a continuation
        {"<html><body>From: a</body></html>\nTo: b\n", false},
        {"From: a\nTo: b", false}, // the second line is cut by the end
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mail::looksLikeMail(c.start), c.mail) << c.start;
    }
}

// Base64 and quoted-printable bodies in each Japanese charset, under its usual
// names: the addresses of the body, the header addresses, and the Japanese text.
TEST(MailSource, EncodedBodiesInJapaneseCharsets) {
    struct Charset {
        const char* label;
        const char* iconvName;
    };
    const Charset charsets[] = {
        {"ISO-2022-JP", "ISO-2022-JP"}, {"csISO2022JP", "ISO-2022-JP"}, {"Shift_JIS", "CP932"}, {"x-sjis", "CP932"},
        {"windows-31j", "CP932"},       {"EUC-JP", "EUC-JP"},           {"utf-8", "UTF-8"},     {"\"UTF-8\"", "UTF-8"}};
    for (const Charset& cs : charsets) {
        const std::string bytes = encoded(kBody, cs.iconvName);
        for (const bool b64 : {true, false}) {
            const std::string m =
                singlePart(cs.label, b64 ? "base64" : "quoted-printable", b64 ? base64(bytes) : quotedPrintable(bytes));
            // The caller's encoding must not matter where the part declares one.
            const Read r = readAll(m, Encoding::EucJP);
            const std::set<std::string> want = {"sender@example.org", "dest@example.net", "m1@example.org",
                                                "taro.yamada@example.jp", "hanako-suzuki@mail.example.co.jp"};
            EXPECT_EQ(r.addresses, want) << cs.label << (b64 ? " base64" : " qp");
            EXPECT_NE(r.text.find(kJapanese), std::string::npos) << cs.label << (b64 ? " base64" : " qp");
            EXPECT_FALSE(r.damaged) << cs.label;
            EXPECT_EQ(r.labels, std::vector<std::string>{"<m1@example.org>"});
        }
    }
}

// Mails whose structure decides what is scanned: the set of addresses found,
// and addresses that must not be among them.
TEST(MailSource, WhatIsScanned) {
    const std::string sjisBody = encoded(kBody, "CP932");
    const std::string isoBody = encoded("転送します。 fwd.body@example.com\n", "ISO-2022-JP");
    struct Case {
        const char* name;
        std::string bytes;
        Encoding enc;
        std::set<std::string> want;
        std::string textHas; // UTF-8 the texts must hold, or empty
        bool damaged;
    };
    const std::vector<Case> cases = {
        {"a soft break inside an address",
         "From: from@example.org\nContent-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\n"
         "Write to taro.yama=\r\nda@example.jp or to x=\nyz@ex=\nample.com today.=\n\n",
         Encoding::UTF8,
         {"from@example.org", "taro.yamada@example.jp", "xyz@example.com"},
         "",
         false},
        {"multipart/alternative, references in the HTML part",
         "From: from@example.org\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"b1\"\n\n"
         "preamble\n--b1\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
             base64("plain plain.part@example.jp\n") +
             "--b1\nContent-Type: text/html; charset=\"iso-2022-jp\"\nContent-Transfer-Encoding: quoted-printable\n\n" +
             quotedPrintable("<p>" + encoded("連絡", "ISO-2022-JP") + " html.part&#64;example.jp</p>\n") + "--b1--\n",
         Encoding::ShiftJIS,
         {"from@example.org", "plain.part@example.jp", "html.part@example.jp"},
         "連絡",
         false},
        {"a forwarded message inside a message, and an attachment that is not text",
         "From: from@example.org\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n"
         "--outer\nContent-Type: text/plain\n\nsee below\n"
         "--outer\nContent-Type: message/rfc822\n\n"
         "From: " +
             encodedWord("ISO-2022-JP", encoded("鈴木", "ISO-2022-JP")) +
             " <inner.from@example.net>\nSubject: " + encodedWord("UTF-8", "宛先 subject.addr@example.jp") +
             "\nContent-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: base64\n\n" +
             base64(isoBody) +
             "\n--outer\nContent-Type: image/png; name=\"a.png\"\nContent-Transfer-Encoding: base64\n\n" +
             base64("\x89PNG hidden.image@example.com") +
             "--outer\nContent-Type: application/zip\nContent-Transfer-Encoding: base64\n\n" +
             base64("PK hidden.zip@example.com") +
             "--outer\nContent-Type: application/octet-stream; name=\"list.csv\"\nContent-Transfer-Encoding: "
             "base64\n\n" +
             base64("name,csv.row@example.jp\n") + "--outer--\n",
         Encoding::ShiftJIS,
         {"from@example.org", "inner.from@example.net", "subject.addr@example.jp", "fwd.body@example.com",
          "csv.row@example.jp"},
         "転送します",
         false},
        {"no charset: the caller's encoding",
         "From: from@example.org\nSubject: x\n\n" + encoded(kBody, "EUC-JP"),
         Encoding::EucJP,
         {"from@example.org", "taro.yamada@example.jp", "hanako-suzuki@mail.example.co.jp"},
         kJapanese,
         false},
        {"8-bit bytes beside an encoded word",
         "From: from@example.org\nSubject: \xf6\xac\x8a " + encodedWord("UTF-8", "件名 subj@example.jp") +
             " \x82\xa0\n\nbody\n",
         Encoding::ShiftJIS,
         {"from@example.org", "subj@example.jp"},
         "件名",
         false},
        {"no charset, and the caller's encoding gives invalid bytes",
         "From: from@example.org\nSubject: x\n\n" + kBody,
         Encoding::EucJP,
         {"from@example.org", "taro.yamada@example.jp", "hanako-suzuki@mail.example.co.jp"},
         kJapanese,
         false},
        {"damaged: the boundary never comes",
         "From: from@example.org\nContent-Type: multipart/mixed; boundary=\"AAA\"\n\n--BBB\nContent-Type: "
         "text/plain\n\nlost.part@example.jp\n--BBB--\n",
         Encoding::UTF8,
         {"from@example.org", "lost.part@example.jp"},
         "",
         true},
        {"damaged: base64 that is plain text",
         singlePart("us-ascii", "base64", "Contact: not.base64@example.jp\r\n"),
         Encoding::UTF8,
         {"sender@example.org", "dest@example.net", "m1@example.org", "not.base64@example.jp"},
         "",
         true},
        {"damaged: a wrong charset (Shift_JIS bytes said to be ISO-2022-JP)",
         singlePart("iso-2022-jp", "8bit", sjisBody),
         Encoding::UTF8,
         {"sender@example.org", "dest@example.net", "m1@example.org", "taro.yamada@example.jp",
          "hanako-suzuki@mail.example.co.jp"},
         kJapanese,
         false},
        {"damaged: cut off inside a base64 part",
         "From: from@example.org\nContent-Type: multipart/mixed; boundary=\"c\"\n\n--c\nContent-Type: text/plain; "
         "charset=Shift_JIS\nContent-Transfer-Encoding: base64\n\n" +
             base64(sjisBody).substr(0, 60),
         Encoding::UTF8,
         {"from@example.org", "taro.yamada@example.jp"},
         kJapanese,
         true},
    };
    for (const Case& c : cases) {
        const Read r = readAll(c.bytes, c.enc);
        EXPECT_EQ(r.addresses, c.want) << c.name;
        EXPECT_EQ(r.damaged, c.damaged) << c.name;
        if (!c.textHas.empty()) {
            EXPECT_NE(r.text.find(c.textHas), std::string::npos) << c.name;
        }
    }
}

// An mbox holds messages of every kind, each read on its own; a body line that
// starts with "From " but is no separator stays in its message.
TEST(MailSource, MboxOfMixedMessages) {
    const std::string mbox =
        "From first@example.jp Mon Jan  1 12:00:00 2024\n"
        "From: first@example.jp\nMessage-ID: <one@example.jp>\nSubject: plain\n\n"
        "From now on, write to later@example.jp\n\n"
        "From MAILER-DAEMON Tue Jan  2 08:30:00 2024\n"
        "From: second@example.jp\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
        base64(kBody) +
        "\nFrom - Wed Jan 03 09:15:00 2024\n"
        "From: third@example.jp\nMessage-ID: <three@example.jp>\nContent-Type: text/plain; charset=ISO-2022-JP\n"
        "Content-Transfer-Encoding: quoted-printable\n\n" +
        quotedPrintable(encoded("三通目 third.body@example.jp\n", "ISO-2022-JP"));
    std::vector<std::size_t> ends;
    std::vector<std::set<std::string>> perMessage;
    std::vector<std::string> labels;
    mail::readMail(mbox, Encoding::ShiftJIS, [&](mail::MailMessage&& m) {
        ends.push_back(m.end);
        labels.push_back(mail::messageLabel(m));
        perMessage.emplace_back();
        pipeline::extractAddresses(m.text, [&](std::string_view a) { perMessage.back().emplace(a); });
    });
    const std::vector<std::set<std::string>> want = {
        {"first@example.jp", "one@example.jp", "later@example.jp"},
        {"second@example.jp", "taro.yamada@example.jp", "hanako-suzuki@mail.example.co.jp"},
        {"third@example.jp", "three@example.jp", "third.body@example.jp"}};
    EXPECT_EQ(perMessage, want);
    EXPECT_EQ(labels,
              (std::vector<std::string>{"message 1 <one@example.jp>", "message 2", "message 3 <three@example.jp>"}));
    ASSERT_EQ(ends.size(), 3U);
    EXPECT_EQ(mbox.substr(ends[0], 17), "From MAILER-DAEMO");
    EXPECT_EQ(ends[2], mbox.size());

    // Many messages are read on several threads and still handed on in
    // file order, each as it would be read alone.
    std::string many;
    std::vector<std::set<std::string>> wantMany;
    for (int i = 0; i < 150; ++i) {
        many += mbox;
        wantMany.insert(wantMany.end(), want.begin(), want.end());
    }
    std::vector<std::set<std::string>> gotMany;
    std::vector<std::size_t> numbers;
    std::size_t at = 0;
    mail::Reading how;
    how.window = 4096;
    how.threads = 2;
    EXPECT_TRUE(mail::readMail(
        {},
        [&](char* buffer, std::size_t room) {
            const std::size_t n = std::min(room, many.size() - at);
            std::memcpy(buffer, many.data() + at, n);
            at += n;
            return n;
        },
        Encoding::ShiftJIS,
        [&](mail::MailMessage&& m) {
            numbers.push_back(m.number);
            gotMany.emplace_back();
            pipeline::extractAddresses(m.text, [&](std::string_view a) { gotMany.back().emplace(a); });
        },
        {}, how));
    EXPECT_EQ(gotMany, wantMany);
    ASSERT_EQ(numbers.size(), 450U);
    EXPECT_EQ(numbers.front(), 1U);
    EXPECT_EQ(numbers.back(), 450U);
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));

    // A stop before the first message reads none.
    std::atomic<bool> stop{true};
    quillon::JobContext ctx;
    ctx.stop = &stop;
    std::size_t read = 0;
    EXPECT_FALSE(mail::readMail(
        mbox, Encoding::ShiftJIS, [&](mail::MailMessage&&) { ++read; }, ctx));
    EXPECT_EQ(read, 0U);
}

// On the search road, a mail file is read as mail and everything else as the
// text it is, in the same folder; every message of an mbox is a piece of its
// file, in order.
TEST(MailSource, OnTheSearchRoad) {
    quillon::testing::TempFolder folder;
    quillon::testing::writeAll(folder.path() / "a.eml",
                               singlePart("utf-8", "base64", base64("本文 b64.body@example.jp\n")));
    quillon::testing::writeAll(folder.path() / "b.txt", "Notes: x\nwrite to taro.yama=\nda@example.jp\n");
    quillon::testing::writeAll(folder.path() / "c.mbox",
                               "From env.one@example.jp Mon Jan  1 12:00:00 2024\nFrom: one@example.jp\nSubject: 1\n\n"
                               "body one\n\nFrom env.two@example.jp Mon Jan  1 12:00:01 2024\nFrom: two@example.jp\n"
                               "Content-Transfer-Encoding: quoted-printable\nSubject: 2\n\nsoft.br=\neak@example.jp\n");
    struct Collect : pipeline::SearchSink {
        std::vector<std::string> found;
        std::vector<pipeline::SourceReport> reports;
        void addressFound(std::string_view address, std::size_t) override { found.emplace_back(address); }
        void sourceStarted(std::size_t, std::size_t, const std::string& path) override {
            found.push_back("[" + std::filesystem::path(path).filename().string() + "]");
        }
        void partStarted(std::size_t, const std::string& label) override { found.push_back("(" + label + ")"); }
        void sourceFinished(const pipeline::SourceReport& r) override { reports.push_back(r); }
    };
    for (const std::size_t pieceSize : {std::size_t{16}, std::size_t{1} << 20}) {
        Collect sink;
        pipeline::SearchOptions options;
        options.encoding = Encoding::ShiftJIS;
        options.pieceSize = pieceSize;
        pipeline::runSearch({pipeline::Source::file(folder.path().string())}, options, sink);
        const std::vector<std::string> want = {
            "[a.eml]",        "sender@example.org", "dest@example.net",   "m1@example.org", "b64.body@example.jp",
            "[b.txt]",        "da@example.jp",      "[c.mbox]",           "(message 1)",    "env.one@example.jp",
            "one@example.jp", "(message 2)",        "env.two@example.jp", "two@example.jp", "soft.break@example.jp"};
        EXPECT_EQ(sink.found, want) << pieceSize;
        ASSERT_EQ(sink.reports.size(), 3U);
        for (const pipeline::SourceReport& r : sink.reports) {
            EXPECT_TRUE(r.ok()) << r.path;
            EXPECT_EQ(r.bytes, std::filesystem::file_size(r.path)) << r.path;
        }
    }
    // Without the mail library, mail is the plain text it also is: nothing
    // decoded, the run goes on and says why.
    mail::pretendParserMissing(true);
    for (const std::size_t pieceSize : {std::size_t{16}, std::size_t{1} << 20}) {
        Collect sink;
        pipeline::SearchOptions options;
        options.encoding = Encoding::ShiftJIS;
        options.pieceSize = pieceSize;
        const pipeline::SearchReport report =
            pipeline::runSearch({pipeline::Source::file(folder.path().string())}, options, sink);
        const std::vector<std::string> want = {
            "[a.eml]",        "sender@example.org", "dest@example.net", "m1@example.org",
            "[b.txt]",        "da@example.jp",      "[c.mbox]",         "env.one@example.jp",
            "one@example.jp", "env.two@example.jp", "two@example.jp",   "eak@example.jp"};
        EXPECT_EQ(sink.found, want) << pieceSize;
        EXPECT_EQ(report.read, 3U);
        EXPECT_NE(report.mailParserFailure.find("cannot load"), std::string::npos) << report.mailParserFailure;
    }
    mail::pretendParserMissing(false);
}

// The verdict on a mail source is the one on its parts that name no charset:
// a body in EUC-JP read with Shift_JIS misfits and names EUC-JP, the same
// body read with EUC-JP fits, and so does a part whose charset is named.
TEST(MailSource, VerdictOfPartsWithoutCharset) {
    quillon::testing::TempFolder folder;
    const std::string unnamed = (folder.path() / "unnamed.eml").string();
    const std::string named = (folder.path() / "named.eml").string();
    quillon::testing::writeAll(unnamed, "From: from@example.org\nSubject: x\n\n" + encoded(kBody, "EUC-JP"));
    quillon::testing::writeAll(named, singlePart("euc-jp", "8bit", encoded(kBody, "EUC-JP")));
    struct Reports : pipeline::SearchSink {
        std::vector<pipeline::SourceReport> all;
        void addressFound(std::string_view, std::size_t) override {}
        void sourceFinished(const pipeline::SourceReport& r) override { all.push_back(r); }
    };
    for (const Encoding enc : {Encoding::ShiftJIS, Encoding::EucJP}) {
        Reports sink;
        pipeline::SearchOptions options;
        options.encoding = enc;
        pipeline::runSearch({pipeline::Source::file(unnamed), pipeline::Source::file(named)}, options, sink);
        ASSERT_EQ(sink.all.size(), 2U);
        EXPECT_EQ(sink.all[0].fits(), enc == Encoding::EucJP);
        if (enc == Encoding::ShiftJIS) {
            EXPECT_EQ(sink.all[0].verdict.likely, Encoding::EucJP);
        }
        EXPECT_TRUE(sink.all[1].fits());
    }
}

namespace {

// One randomly made message of an mbox (or, without `separator`, a single
// message): plain and damaged header blocks, "From " lines inside bodies,
// every kind of body and part, LF or CRLF.
std::string randomMessage(std::mt19937& rng, bool separator) {
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::string n = std::to_string(rng() % 100000);
    std::string m;
    if (separator) {
        static const char* kSeparators[] = {"From a%@example.jp Mon Jan  1 12:00:00 2024\n",
                                            "From - Tue Jan 02 08:30:00 2024\n",
                                            "From MAILER-DAEMON Wed Jan  3 23:59:59 2024\n"};
        std::string line = kSeparators[pick(3)];
        if (const std::size_t at = line.find('%'); at != std::string::npos) {
            line.replace(at, 1, n);
        }
        m += line;
    }
    static const char* kFields[] = {
        "Received: from a.example.net by b.example.net;\n\tMon, 1 Jan 2024 10:00:00 +0900\n",
        "From: f%@example.jp\n",
        "To: t%@example.jp,\n c%@example.co.jp\n",
        "Subject: =?UTF-8?B?5bGx55Sw?= s%@example.jp\n",
        "Subject: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=\n",
        "Message-ID: <%@example.jp>\n",
        "MIME-Version: 1.0\n",
        "X-Mailer: m%@example.jp\n",
        "Bad Name: b%@example.jp\n",
        "a line that is no header, n%@example.jp\n",
        "X-Raw: \x8e\xa1 r%@example.jp\n",
        "X-Cr: a\rb%@example.jp\n",
        "Content-Type: text/plain\n",
        "Content-Transfer-Encoding: base64\n",
        "Content-Disposition: attachment; filename=\"x%.txt\"\n",
    };
    const std::size_t fields = pick(7);
    for (std::size_t i = 0; i < fields; ++i) {
        std::string f = kFields[pick(std::size(kFields))];
        if (const std::size_t at = f.find('%'); at != std::string::npos) {
            f.replace(at, 1, n);
        }
        m += f;
    }
    if (pick(8) == 0) {
        m += std::string("X-Nul: a\0b@example.jp\n", 22);
    }
    const std::string text = "本文 body" + n + "@example.jp です。\nFrom now on, write to later" + n + "@example.jp\n";
    const std::string boundary = "=_b" + n;
    switch (pick(9)) {
    case 0: // plain body, with "From " lines that are and are not separators
        m += "\n" + text + ">From q" + n + "@example.jp Mon Jan  1 12:00:00 2024\n";
        if (pick(3) == 0) {
            m += "From inner" + n + "@example.jp Thu Jan  4 01:02:03 2024\nso this starts a message\n";
        }
        break;
    case 1:
        m += "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" + base64(text);
        break;
    case 2:
        m += "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: quoted-printable\n\n" +
             quotedPrintable(encoded(text, "ISO-2022-JP"));
        break;
    case 3: // base64 with bytes outside its alphabet
        m += "Content-Type: text/plain; charset=shift_jis\nContent-Transfer-Encoding: base64\n\n" +
             base64(encoded(text, "SHIFT_JIS")) + "!!not base64 d" + n + "@example.jp\n";
        break;
    case 4: // no charset named, EUC-JP bytes
        m += "Content-Type: text/plain\n\n" + encoded(text, "EUC-JP");
        break;
    case 5: // multipart: text, an attachment that is not text, a forwarded message
        m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\npreamble p" + n + "@example.jp\n--" +
             boundary + "\nContent-Type: text/plain; charset=euc-jp\n\n" + encoded(text, "EUC-JP") + "\n--" + boundary +
             "\nContent-Type: application/octet-stream; name=\"a.bin\"\nContent-Transfer-Encoding: base64\n\n" +
             base64(std::string(600 + pick(9000), 'x') + " hidden" + n + "@example.jp") + "--" + boundary +
             "\nContent-Type: message/rfc822\n\nFrom: fwd" + n + "@example.jp\nSubject: fwd\n\nforwarded body w" + n +
             "@example.jp\n--" + boundary + "--\nepilogue e" + n + "@example.jp\n";
        break;
    case 6: // a boundary that never comes
        m += "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\n\n--" + boundary +
             "\nContent-Type: text/html\n\n<p>h" + n + "@example.jp</p>\n";
        break;
    case 7: // multipart without a boundary, a conflicting Content-Type
        m += "Content-Type: multipart/mixed\nContent-Type: text/plain\n\nraw" + n + "@example.jp\n";
        break;
    default: // no body at all
        if (pick(2) == 0) {
            m += "\n";
        }
        break;
    }
    if (pick(4) == 0) {
        std::string crlf;
        for (const char c : m) {
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        }
        m = crlf;
    }
    return m;
}

struct Seen {
    std::size_t number, end, invalid;
    bool inMbox, damaged;
    std::string messageId, text;
    Encoding likely, used;
    bool operator==(const Seen&) const = default;
};

Seen seen(const mail::MailMessage& m) {
    return {m.number, m.end, m.invalid, m.inMbox, m.damaged, m.messageId, m.text, m.unnamedLikely, m.unnamedUsed};
}

} // namespace

// A source read as it comes (in windows, cut into messages, batches read on
// worker threads, the parser given only the fields that bear on structure)
// gives every message exactly as reading the whole source with one parser
// does, over many made mboxes and single messages, whatever the windows, the
// threads, the size it is told and the sizes `more` gives.
TEST(MailSource, ReadAsItComesAsReadWhole) {
    std::mt19937 rng(20240101);
    for (int round = 0; round < 160; ++round) {
        const bool mbox = round % 8 != 0;
        std::string source;
        const int messages = mbox ? 1 + static_cast<int>(rng() % 40) : 1;
        for (int i = 0; i < messages; ++i) {
            source += randomMessage(rng, mbox);
        }
        if (rng() % 3 == 0) {
            source.resize(source.size() - rng() % std::min<std::size_t>(source.size(), 300)); // cut short
        }
        const Encoding enc = round % 3 == 0 ? Encoding::None : Encoding::ShiftJIS;
        std::vector<Seen> whole;
        EXPECT_TRUE(mail::readMail(source, enc, [&](mail::MailMessage&& m) { whole.push_back(seen(m)); }));

        mail::Reading how;
        how.window = std::vector<std::size_t>{4096, 9000, std::size_t{1} << 20}[rng() % 3];
        how.threads = std::vector<unsigned>{1, 2, 4}[rng() % 3];
        how.size = rng() % 2 == 0 ? source.size() : rng() % (2 * source.size() + 1); // right, or wrong
        const std::size_t headSize = rng() % std::min<std::size_t>(source.size() + 1, 5000);
        std::size_t at = headSize;
        const std::size_t most = 1 + rng() % 6000;
        const mail::ReadMore more = [&](char* buffer, std::size_t room) {
            const std::size_t n = std::min({room, source.size() - at, 1 + rng() % most});
            std::memcpy(buffer, source.data() + at, n);
            at += n;
            return n;
        };
        std::vector<Seen> streamed;
        EXPECT_TRUE(mail::readMail(
            std::string_view(source).substr(0, headSize), more, enc,
            [&](mail::MailMessage&& m) { streamed.push_back(seen(m)); }, {}, how));
        ASSERT_EQ(streamed.size(), whole.size()) << "round " << round;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            ASSERT_TRUE(streamed[i] == whole[i]) << "round " << round << ", message " << i + 1 << "\n"
                                                 << streamed[i].text << "\n----\n"
                                                 << whole[i].text;
        }
        EXPECT_EQ(whole.back().end, source.size());
    }

    // A stop before the first message reads none.
    std::atomic<bool> stop{true};
    quillon::JobContext ctx;
    ctx.stop = &stop;
    std::size_t read = 0;
    const std::string one = "From a@example.jp Mon Jan  1 12:00:00 2024\nFrom: a@example.jp\n\nbody\n";
    EXPECT_FALSE(mail::readMail(
        one, [](char*, std::size_t) { return std::size_t{0}; }, Encoding::UTF8, [&](mail::MailMessage&&) { ++read; },
        ctx));
    EXPECT_EQ(read, 0U);
}
