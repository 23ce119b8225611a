// The search road (read in pieces, valid UTF-8 scanned in place, texts
// without "&" left undecoded, the guess made where it matters) against the
// plain one: convToUTF8 of the whole text, then extractAddresses.
#include "extract/convModule.h"
#include "extract/encodingVerdict.h"
#include "extract/pipeline.h"
#include "support/core_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace pipeline = quillon::pipeline;
namespace conv = quillon::convModule;
using quillon::Encoding;

namespace {

struct Found {
    std::vector<std::string> addresses;
    std::size_t invalid = 0;
    Encoding used = Encoding::None;
};

// Guess mode reads the whole text in the encoding the verdict over all of it
// names.
Found plainRoad(const std::string& bytes, Encoding enc) {
    Found f;
    const Encoding use = enc == Encoding::None ? quillon::encodingVerdict::judge(bytes).guess() : enc;
    conv::ConvResult c = conv::convToUTF8(bytes, use);
    f.invalid = c.invalid;
    f.used = c.used;
    pipeline::extractAddresses(std::move(c.text), [&](std::string_view a) { f.addresses.emplace_back(a); });
    return f;
}

Found fastRoad(std::string_view bytes, Encoding enc) {
    Found f;
    const pipeline::SourceScan s = pipeline::extractFromBytes(bytes, enc, conv::guessSample(bytes),
                                                              [&](std::string_view a) { f.addresses.emplace_back(a); });
    EXPECT_TRUE(s.finished);
    f.invalid = s.invalid;
    f.used = s.used;
    return f;
}

void expectSame(const std::string& bytes, Encoding enc) {
    const Found a = plainRoad(bytes, enc);
    const Found b = fastRoad(bytes, enc);
    EXPECT_EQ(a.addresses, b.addresses);
    EXPECT_EQ(a.invalid, b.invalid);
    EXPECT_EQ(a.used, b.used);
}

// Pieces that make addresses, references (also ones that form addresses or
// other references), broken and valid multibyte characters, and line ends.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> p = {
        "user@example.com",
        " ",
        "\n",
        "a.b-c_d@mail.example.co.jp",
        "&#64;",
        "&#x40;",
        "&#38;#64;",
        "&",
        "&#",
        "x",
        ";",
        "info",
        "example.jp",
        "@",
        "\xE3\x81\x82",
        "\xE6\x97\xA5",
        "\xE3\x81",
        "\xED\xA0\x80",
        "\xF0\x9F\x98\x80",
        "\xC0\xAF",
        "\xFF",
        "\x82\xA0",
        "\xA4\xA2",
        "\x1B$B$\"\x1B(B",
        "\x0E",
        "\x0F",
        ",",
        "<",
        ">",
        "0",
    };
    return p;
}

std::string randomText(std::mt19937& rng, std::size_t pieceCount) {
    std::string s;
    for (std::size_t i = 0; i < pieceCount; ++i) {
        s += pieces()[rng() % pieces().size()];
    }
    return s;
}

TEST(ExtractFromBytes, FindsWhatTheConversionAndTheScanFind) {
    std::mt19937 rng(2024);
    for (const Encoding enc :
         {Encoding::UTF8, Encoding::ShiftJIS, Encoding::EucJP, Encoding::ISO2022JP, Encoding::None}) {
        for (int round = 0; round < 300; ++round) {
            const std::string text = randomText(rng, 1 + rng() % 60);
            SCOPED_TRACE(::testing::Message() << "encoding " << static_cast<int>(enc) << ", text: " << text);
            expectSame(text, enc);
        }
    }
}

// Texts big enough for the two-thread UTF-8 check, with a fault put at the
// places where the halves meet, at the ends and nowhere.
TEST(ExtractFromBytes, LargeTextsWithAFaultAnywhere) {
    std::mt19937 rng(99);
    std::string base;
    while (base.size() < (std::size_t{9} << 20)) {
        base += "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ";
        if (rng() % 64 == 0) {
            base += "mail" + std::to_string(rng() % 1000) + "@example.jp\n";
        }
        if (rng() % 4096 == 0) {
            base += "&#64;";
        }
    }
    const std::size_t mid = base.size() / 2;
    for (const std::size_t at : {std::size_t{0}, mid - 1, mid, mid + 1, mid + 2, mid + 5, base.size() - 1}) {
        for (const std::string& fault : {std::string(), std::string("\xE3\x81"), std::string("\xFF"),
                                         std::string("\xE6\x97\xA5"), std::string("\x80\x80")}) {
            std::string text = base;
            text.insert(at, fault);
            SCOPED_TRACE(::testing::Message() << "fault of " << fault.size() << " bytes at " << at);
            EXPECT_EQ(conv::isValidUtf8(text), conv::convToUTF8(text, Encoding::UTF8).invalid == 0);
            expectSame(text, Encoding::UTF8);
        }
    }
}

// Texts large enough to be converted in pieces on a second thread, in each
// of the three encodings converted that way, made of the random pieces above
// (valid and broken characters, escape sequences, references, addresses and
// line ends), and the same with no line end at all (one piece).
TEST(ExtractFromBytes, LargeTextsConvertedInPieces) {
    std::mt19937 rng(314);
    for (const Encoding enc : {Encoding::ShiftJIS, Encoding::EucJP, Encoding::ISO2022JP}) {
        for (const bool lineEnds : {true, false}) {
            std::string text;
            while (text.size() < (std::size_t{9} << 20)) {
                std::string piece = pieces()[rng() % pieces().size()];
                if (!lineEnds && piece == "\n") {
                    piece = " ";
                }
                text += piece;
            }
            SCOPED_TRACE(::testing::Message() << "encoding " << static_cast<int>(enc) << ", line ends " << lineEnds);
            expectSame(text, enc);
        }
    }
}

// Line ends at the places the pieces are cut, with a broken character or an
// open escape sequence right before them, and ISO-2022-JP text that stays in
// JIS X 0208 over the line ends.
TEST(ExtractFromBytes, PieceEndsInsideBrokenOrShiftedText) {
    const std::vector<std::pair<Encoding, std::string>> lines = {
        {Encoding::ShiftJIS, "\x82\xA0 a@b.jp \x82\n"},
        {Encoding::EucJP, "\xA4\xA2 a@b.jp \x8F\xA1\n"},
        {Encoding::ISO2022JP, "\x1B$B$\"$$ a@b.jp $\"\n"},
        {Encoding::ISO2022JP, "\x1B(I1 a@b.jp\x0E"
                              "12\n"},
        {Encoding::ISO2022JP, "\x1B$B$\"\x1B(B x@y.jp \x1B$\n"},
    };
    for (const auto& [enc, line] : lines) {
        std::string text;
        while (text.size() < (std::size_t{7} << 20)) {
            text += line;
        }
        SCOPED_TRACE(::testing::Message() << "encoding " << static_cast<int>(enc));
        expectSame(text, enc);
    }
}

TEST(IsValidUtf8, AgreesWithTheConversionOnShortTexts) {
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        const std::string text = randomText(rng, rng() % 12);
        const conv::ConvResult c = conv::convToUTF8(text, Encoding::UTF8);
        EXPECT_EQ(conv::isValidUtf8(text), c.invalid == 0) << text;
        if (c.invalid == 0) {
            EXPECT_EQ(c.text, text);
        }
    }
}

// The road read in tiny pieces: every cut (after a line end, after a space or
// control byte in a long line, before a run of a foreign ISO-2022-JP set)
// gives what the whole text converted and scanned at once gives.
TEST(SearchRun, TinyPiecesGiveWhatTheWholeTextGives) {
    class Collect : public pipeline::SearchSink {
    public:
        void addressFound(std::string_view a, std::size_t) override { found.addresses.emplace_back(a); }
        void sourceFinished(const pipeline::SourceReport& r) override {
            found.invalid = r.invalid;
            found.used = r.used;
            ok = r.ok();
        }
        Found found;
        bool ok = false;
    };
    std::mt19937 rng(77);
    // A run of a set that glibc reads (GB 2312 of ISO-2022-JP-2), with places
    // to cut in it.
    const std::string foreign = "\x1B$A\x21\x21\t\x30\x21\n\x30\x21 \x21\x21\x30\x21\t\x30\x21\n";
    for (const Encoding enc : {Encoding::UTF8, Encoding::ShiftJIS, Encoding::EucJP, Encoding::ISO2022JP}) {
        for (int round = 0; round < 120; ++round) {
            std::string text = randomText(rng, 1 + rng() % 200);
            if (round % 3 == 1) {
                std::replace(text.begin(), text.end(), '\n', ' '); // one long line
            } else if (round % 3 == 2) {
                std::erase(text, '\n'); // one long line with no place to cut
                std::erase(text, ' ');
                text.insert(rng() % text.size(), "mail@example.jp");
            }
            if (enc == Encoding::ISO2022JP) {
                text.insert(rng() % (text.size() + 1), foreign);
            }
            const std::size_t pieceSize = 16 + rng() % 80;
            Collect sink;
            const pipeline::Source source = [&] {
                pipeline::Source s;
                s.kind = pipeline::Source::Kind::Text;
                s.text = text;
                return s;
            }();
            pipeline::SearchOptions options;
            options.encoding = enc;
            options.pieceSize = pieceSize;
            options.piecesAhead = 1 + rng() % 3;
            const pipeline::SearchReport report = pipeline::runSearch({source}, options, sink);
            SCOPED_TRACE(::testing::Message()
                         << "encoding " << static_cast<int>(enc) << ", pieces of " << pieceSize << ", text: " << text);
            const Found whole = plainRoad(text, enc);
            EXPECT_TRUE(sink.ok);
            EXPECT_EQ(report.read, 1u);
            EXPECT_EQ(sink.found.addresses, whole.addresses);
            EXPECT_EQ(sink.found.invalid, whole.invalid);
            EXPECT_EQ(sink.found.used, whole.used);
        }
    }
}

// A file read by both threads, each scanning its half, gives what one thread
// reading it in order gives: the same addresses in the same order and the
// same report (encoding, verdict, sample, counts), whether the halves hold a
// fault, an escape or shift byte, references or long lines anywhere; and a
// STOP between pieces ends the file with a prefix of its addresses.
TEST(SearchRun, FileReadInHalvesGivesWhatOneReaderGives) {
    class Collect : public pipeline::SearchSink {
    public:
        explicit Collect(std::atomic<bool>* stop = nullptr, std::size_t stopAfter = 0)
            : m_stop(stop), m_stopAfter(stopAfter) {}
        void addressFound(std::string_view a, std::size_t) override {
            addresses.emplace_back(a);
            if (m_stop != nullptr && addresses.size() == m_stopAfter) {
                *m_stop = true;
            }
        }
        void partStarted(std::size_t, const std::string& label) override { parts.push_back(label); }
        void sourceFinished(const pipeline::SourceReport& r) override { report = r; }
        std::vector<std::string> addresses;
        std::vector<std::string> parts;
        pipeline::SourceReport report;

    private:
        std::atomic<bool>* m_stop;
        std::size_t m_stopAfter;
    };
    const quillon::testing::TempFolder tmp; // of its own: other test runs may run at the same time
    const std::string path = (tmp.path() / "halves.txt").string();
    std::mt19937 rng(4242);
    const std::vector<std::string> clean = {"user@example.com",
                                            " ",
                                            "\n",
                                            "a.b-c_d@mail.example.co.jp",
                                            "&#64;",
                                            "info",
                                            "@",
                                            "example.jp",
                                            "\xE3\x81\x82",
                                            ",",
                                            "x",
                                            "&"};
    const std::vector<std::string> odd = {"\xFF", "\x1B$B$\"\x1B(B", "\x0E", "\x82\xA0", "\xE3\x81"};
    for (int round = 0; round < 60; ++round) {
        std::string text;
        const std::size_t count = 50 + rng() % 3000;
        for (std::size_t i = 0; i < count; ++i) {
            text += clean[rng() % clean.size()];
        }
        if (round % 4 == 1) {
            text.insert(rng() % text.size(), odd[rng() % odd.size()]); // anywhere: either half
        } else if (round % 4 == 2) {
            std::replace(text.begin(), text.end(), '\n', ' ');
        } else if (round % 4 == 3) {
            std::erase(text, '\xE3'); // ASCII bytes with stray continuation bytes
        }
        if (round % 10 == 4) { // a mail archive, read message by message
            text.insert(0, "From a@example.jp Mon Jan  1 00:00:00 2024\nFrom: a@example.jp\nTo: b@example.jp\n"
                           "Subject: x\n\n");
        }
        std::ofstream(path, std::ios::binary) << text;
        const Encoding enc = round % 2 == 0 ? Encoding::None : Encoding::UTF8;
        pipeline::SearchOptions options;
        options.encoding = enc;
        options.pieceSize = 16 + rng() % 400;
        pipeline::SearchOptions halves = options;
        halves.splitAt = 2;
        options.splitAt = UINT64_MAX;
        SCOPED_TRACE(::testing::Message() << "round " << round << ", text: " << text);
        Collect one;
        Collect two;
        pipeline::runSearch({pipeline::Source::file(path)}, options, one);
        pipeline::runSearch({pipeline::Source::file(path)}, halves, two);
        EXPECT_EQ(two.addresses, one.addresses);
        EXPECT_EQ(two.parts, one.parts);
        EXPECT_EQ(two.report.used, one.report.used);
        EXPECT_EQ(two.report.verdict.kind, one.report.verdict.kind);
        EXPECT_EQ(two.report.verdict.likely, one.report.verdict.likely);
        EXPECT_EQ(two.report.invalid, one.report.invalid);
        EXPECT_EQ(two.report.bytes, one.report.bytes);
        EXPECT_EQ(two.report.sample, one.report.sample);
        EXPECT_EQ(two.report.addresses, one.report.addresses);
        EXPECT_EQ(two.report.error, one.report.error);

        if (one.addresses.size() > 2) {
            std::atomic<bool> stop{false};
            halves.stop = &stop;
            Collect stopped(&stop, 1 + rng() % (one.addresses.size() - 1));
            const pipeline::SearchReport total = pipeline::runSearch({pipeline::Source::file(path)}, halves, stopped);
            EXPECT_TRUE(total.stopped);
            EXPECT_FALSE(stopped.report.finished);
            EXPECT_EQ(stopped.report.error, pipeline::ReadError::Stopped);
            ASSERT_LE(stopped.addresses.size(), one.addresses.size());
            EXPECT_TRUE(std::equal(stopped.addresses.begin(), stopped.addresses.end(), one.addresses.begin()));
        }
    }
}

// The files of a folder read many at a submission give what reading them one
// by one gives: every event in the same order, each file's report the same,
// whatever its size (empty, a slot's size or more), its encoding or its kind
// (a mail archive, a link, a file in a subfolder, a FIFO, a name that is not
// there, small clean UTF-8 files handed on whole), also when STOP comes in
// the middle.
TEST(SearchRun, FolderReadInBatchesGivesWhatOneByOneGives) {
    class Record : public pipeline::SearchSink {
    public:
        Record(std::atomic<bool>& stop, std::size_t stopAfter) : m_stop(stop), m_stopAfter(stopAfter) {}
        void sourceStarted(std::size_t i, std::size_t total, const std::string& path) override {
            events.push_back("start " + std::to_string(i) + "/" + std::to_string(total) + " " + path);
        }
        void partStarted(std::size_t, const std::string& label) override { events.push_back("part " + label); }
        void addressFound(std::string_view a, std::size_t i) override {
            events.push_back(std::to_string(i) + " " + std::string(a));
            if (++m_found == m_stopAfter) {
                m_stop = true;
            }
        }
        void progress(std::int64_t maximum, std::int64_t value, std::uint64_t bytes) override {
            events.push_back("progress " + std::to_string(maximum) + " " + std::to_string(value) + " " +
                             std::to_string(bytes));
        }
        void sourceFinished(const pipeline::SourceReport& r) override {
            events.push_back("end " + r.path + " " + std::to_string(static_cast<int>(r.error)) + " " +
                             std::to_string(r.bytes) + " " + std::to_string(static_cast<int>(r.used)) + " " +
                             std::to_string(static_cast<int>(r.verdict.kind)) + " " +
                             std::to_string(static_cast<int>(r.verdict.likely)) + " " + std::to_string(r.invalid) +
                             " " + std::to_string(r.addresses) + " " + std::to_string(r.finished));
            samples.push_back(r.sample);
        }
        std::vector<std::string> events;
        std::vector<std::string> samples;

    private:
        std::atomic<bool>& m_stop;
        std::size_t m_stopAfter;
        std::size_t m_found = 0;
    };
    // Text of the pieces that are valid UTF-8 and hold no escape or shift byte.
    const auto cleanText = [](std::mt19937& rng, std::size_t count) {
        std::string s;
        while (count > 0) {
            const std::string& p = pieces()[rng() % pieces().size()];
            const bool ascii = std::all_of(p.begin(), p.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80 && c != '\x1B' && c != '\x0E' && c != '\x0F';
            });
            if (ascii || p == "\xE3\x81\x82" || p == "\xE6\x97\xA5" || p == "\xF0\x9F\x98\x80") {
                s += p;
                --count;
            }
        }
        return s;
    };
    namespace fs = std::filesystem;
    const quillon::testing::TempFolder tmp;
    const fs::path dir = tmp.path() / "batches";
    fs::create_directories(dir / "sub");
    std::mt19937 rng(31);
    const auto write = [](const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    for (int i = 0; i < 150; ++i) {
        write(dir / ("f" + std::to_string(i)), randomText(rng, rng() % 40));
    }
    for (int i = 0; i < 300; ++i) {
        // Now and then one larger than a batch's slot.
        std::string text = cleanText(rng, rng() % 30);
        for (int line = 0; i % 50 == 0 && line < 3000; ++line) {
            text += "line " + std::to_string(line) + " of l" + std::to_string(i) + "@example.com\n";
        }
        write(dir / ("c" + std::to_string(i)), text);
    }
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    write(dir / "empty", "");
    write(dir / "slot", std::string((std::size_t{64} << 10) - 16, 'x') + " user@example.com");
    write(dir / "large", std::string(std::size_t{200} << 10, ' ') + "large@example.com\n");
    write(dir / "sjis", "\x82\xa0\x82\xa2 sjis@example.jp \x82\xa4\x82\xa6\x82\xa8\n");
    write(dir / "mbox", "From a@example.jp Mon Jan  1 00:00:00 2024\nFrom: a@example.jp\nTo: b@example.jp\n"
                        "Subject: x\n\nbody c@example.jp\n");
    for (int i = 0; i < 80; ++i) {
        write(dir / "sub" / ("g" + std::to_string(i)), randomText(rng, rng() % 40));
    }
    fs::create_symlink(dir / "sjis", dir / "link");
    for (const Encoding enc : {Encoding::None, Encoding::UTF8, Encoding::ShiftJIS}) {
        for (const std::size_t pieceSize : {std::size_t{16} + rng() % 64, std::size_t{256} << 10}) {
            pipeline::SearchOptions options;
            options.encoding = enc;
            options.pieceSize = pieceSize;
            pipeline::SearchOptions oneByOne = options;
            oneByOne.batchedReads = false;
            // A run that does not ask for the samples gives the same events and none.
            pipeline::SearchOptions lean = options;
            lean.samples = false;
            const std::vector<pipeline::Source> sources = {pipeline::Source::file(dir.string()),
                                                           pipeline::Source::file((dir / "missing").string()),
                                                           pipeline::Source::file((dir / "sub").string())};
            for (const std::size_t stopAfter : {std::size_t{0}, std::size_t{1} + rng() % 400}) {
                std::atomic<bool> stopBatched{false};
                std::atomic<bool> stopPlain{false};
                std::atomic<bool> stopLean{false};
                options.stop = &stopBatched;
                oneByOne.stop = &stopPlain;
                lean.stop = &stopLean;
                Record batched(stopBatched, stopAfter);
                Record plain(stopPlain, stopAfter);
                Record leanRun(stopLean, stopAfter);
                const pipeline::SearchReport a = pipeline::runSearch(sources, options, batched);
                const pipeline::SearchReport b = pipeline::runSearch(sources, oneByOne, plain);
                pipeline::runSearch(sources, lean, leanRun);
                SCOPED_TRACE(::testing::Message() << "encoding " << static_cast<int>(enc) << ", pieces of " << pieceSize
                                                  << ", stop after " << stopAfter);
                EXPECT_EQ(batched.events, plain.events);
                EXPECT_EQ(batched.samples, plain.samples);
                EXPECT_EQ(leanRun.events, plain.events);
                EXPECT_EQ(leanRun.samples, std::vector<std::string>(plain.samples.size()));
                if (stopAfter == 0) {
                    EXPECT_GT(std::count_if(plain.samples.begin(), plain.samples.end(),
                                            [](const std::string& sample) { return !sample.empty(); }),
                              400);
                }
                EXPECT_EQ(a.stopped, stopAfter != 0);
                EXPECT_EQ(std::tie(a.sources, a.read, a.failed, a.addresses, a.stopped),
                          std::tie(b.sources, b.read, b.failed, b.addresses, b.stopped));
                EXPECT_GT(batched.events.size(), stopAfter == 0 ? 4 * 540u : stopAfter);
            }
        }
    }
}

// A file of a folder replaced by a FIFO after the listing, before it is read
// in its batch, does not hold the search up waiting for a writer: it is
// named as not a regular file, as when it is opened on its own.
TEST(SearchRun, FileReplacedByAFifoAfterTheListingIsNotWaitedFor) {
    namespace fs = std::filesystem;
    const quillon::testing::TempFolder tmp;
    const fs::path dir = tmp.path() / "fifo_swap";
    fs::create_directories(dir);
    const std::string body = std::string(1000, 'x') + " ab@example.jp\n";
    for (int i = 0; i < 3000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%04d", i);
        std::ofstream(dir / name, std::ios::binary) << body;
    }
    const fs::path last = dir / "f2999";
    // The reader is a few batches ahead of the first file's start, far from the last.
    class Swap : public pipeline::SearchSink {
    public:
        explicit Swap(fs::path path) : m_path(std::move(path)) {}
        void sourceStarted(std::size_t i, std::size_t, const std::string&) override {
            if (i == 0) {
                fs::remove(m_path);
                ::mkfifo(m_path.c_str(), 0600);
            }
        }
        void addressFound(std::string_view, std::size_t) override {}
        void sourceFinished(const pipeline::SourceReport& r) override { reports.push_back(r); }
        std::vector<pipeline::SourceReport> reports;

    private:
        fs::path m_path;
    } sink(last);
    pipeline::SearchOptions options;
    options.encoding = Encoding::UTF8;
    const pipeline::SearchReport total = pipeline::runSearch({pipeline::Source::file(dir.string())}, options, sink);
    ASSERT_EQ(sink.reports.size(), 3000u);
    EXPECT_EQ(sink.reports.back().path, last.string());
    EXPECT_EQ(sink.reports.back().error, pipeline::ReadError::NotRegular);
    EXPECT_EQ(total.read, 2999u);
    EXPECT_EQ(total.addresses, 2999u);
}

} // namespace
