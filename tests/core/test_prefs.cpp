#include "app/prefStore.h"
#include "export/fileWriter.h"
#include "extract/convModule.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using quillon::Encoding;
using quillon::PrefStore;
using quillon::Settings;
namespace fs = std::filesystem;

namespace {

std::string be16(int v) {
    return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

std::string be32(std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u >> 24), static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 8) & 0xFF),
            static_cast<char>(u & 0xFF)};
}

std::string codes(int c1, int c2, int c3, int c4, std::int32_t n, int reserved) {
    return be16(c1) + be16(c2) + be16(c3) + be16(c4) + be32(n) + be16(reserved);
}

std::string currentForm(const std::string& codeBytes, bool inList, const std::string& filter, bool yohaku) {
    return codeBytes +
           "\x03"
           "114" +
           std::string(1, inList ? '\1' : '\0') + be32(static_cast<std::int64_t>(filter.size())) + filter +
           std::string(1, yohaku ? '\1' : '\0');
}

const std::string kDefaultFile = std::string("\x00\x0C\x00\x09\x00\x08\x00\x04\x00\x00\x00\x0A\x00\x00\x00\x01", 16);

using quillon::testing::readAll;
using quillon::testing::writeAll;

std::vector<std::string> entries(const std::vector<std::string>& filter) {
    EXPECT_FALSE(filter.empty());
    return {filter.begin() + 1, filter.end()};
}

// Every test works in a fresh temporary folder, never in the user's own.
class Prefs : public ::testing::Test {
protected:
    void SetUp() override { m_folder = m_root / "config" / "quillon"; }
    fs::path file() const { return m_folder / PrefStore::kFileName; }
    void store(const std::string& bytes) {
        fs::create_directories(m_folder);
        writeAll(file(), bytes);
    }

    quillon::testing::TempFolder m_tmp;
    fs::path m_root = m_tmp.path();
    fs::path m_folder;
};

void expectDefaults(const Settings& s) {
    EXPECT_EQ(s.prefN, (std::array<std::int32_t, 7>{0, 12, 9, 8, 4, 10, 0}));
    EXPECT_TRUE(s.isDelet);
    EXPECT_TRUE(s.isSort);
    EXPECT_TRUE(s.isHighLight);
    EXPECT_TRUE(s.inList);
}

TEST_F(Prefs, FirstStartWritesTheSixteenByteDefaultFile) {
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    EXPECT_EQ(readAll(file()), kDefaultFile);
    expectDefaults(s);
    EXPECT_EQ(s.filterString, "");
    EXPECT_FALSE(s.needYohaku);
    EXPECT_EQ(store.lastError(), "");

    // The next start reads the same settings back.
    Settings again;
    again.needYohaku = true;
    store.Open(again);
    expectDefaults(again);
    EXPECT_FALSE(again.needYohaku);
    EXPECT_EQ(readAll(file()), kDefaultFile);
}

TEST_F(Prefs, EmptyFileIsTreatedAsMissing) {
    store("");
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    expectDefaults(s);
    EXPECT_EQ(readAll(file()), kDefaultFile);
}

TEST_F(Prefs, SavingTheDefaultsGivesTheTwentyFourByteForm) {
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    ASSERT_TRUE(store.settei(s));
    EXPECT_EQ(readAll(file()), std::string("\x00\x0C\x00\x09\x00\x08\x00\x04\x00\x00\x00\x0A\x00\x00"
                                           "\x03\x31\x31\x34\x01\x00\x00\x00\x00\x00",
                                           24));
}

TEST_F(Prefs, JapaneseFilterIsStoredAsUtf8WithItsByteCount) {
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    s.filterString = "日本語";
    s.needYohaku = true;
    s.inList = false;
    s.prefN[1] = Settings::kDeleteOff;
    s.prefN[5] = -5;
    ASSERT_TRUE(store.settei(s));
    const std::string bytes = readAll(file());
    EXPECT_EQ(bytes, codes(3, 9, 8, 4, -5, 0) +
                         "\x03"
                         "114" +
                         std::string(1, '\0') + std::string("\0\0\0\x09", 4) + "日本語" + "\x01");
    EXPECT_FALSE(s.isDelet);
    EXPECT_EQ(entries(s.addressFilter), std::vector<std::string>{"日本語"});

    Settings back;
    store.yomikomi(back);
    EXPECT_EQ(back.prefN, s.prefN);
    EXPECT_EQ(back.filterString, "日本語");
    EXPECT_FALSE(back.inList);
    EXPECT_TRUE(back.needYohaku);
    EXPECT_FALSE(back.isDelet);
    EXPECT_TRUE(back.isSort);
    EXPECT_EQ(entries(back.addressFilter), std::vector<std::string>{"日本語"});
}

TEST_F(Prefs, ShorterSaveOverALongerOneKeepsTheLengthAndReadsBackRight) {
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    s.filterString = "someone@example.com,***@spam.example.jp,Mailer-Daemon@***";
    s.needYohaku = false;
    ASSERT_TRUE(store.settei(s));
    const auto longSize = fs::file_size(file());

    s.filterString = "x@y.jp";
    s.needYohaku = true;
    ASSERT_TRUE(store.settei(s));
    EXPECT_EQ(fs::file_size(file()), longSize);
    const std::string bytes = readAll(file());
    EXPECT_EQ(bytes.substr(0, 30), currentForm(codes(12, 9, 8, 4, 10, 0), true, "x@y.jp", true));

    Settings back;
    store.Open(back);
    EXPECT_EQ(back.filterString, "x@y.jp");
    EXPECT_TRUE(back.needYohaku);
    EXPECT_EQ(entries(back.addressFilter), std::vector<std::string>{"x@y.jp"});
    EXPECT_TRUE(entries(back.domainFilter).empty());
}

TEST_F(Prefs, OlderFormIsReadAndTheNextSaveWritesTheCurrentForm) {
    const std::string filter = "山田@example.jp,***@spam.jp";
    const std::string sjis = quillon::convModule::convToSJIS(filter).bytes;
    ASSERT_LT(sjis.size(), 256u);
    store(codes(3, 7, 4, 6, 25, 0x1234) + std::string(1, static_cast<char>(sjis.size())) + sjis + std::string(1, '\0'));

    PrefStore store(m_folder);
    Settings s;
    s.needYohaku = true;
    store.Open(s);
    EXPECT_EQ(s.prefN, (std::array<std::int32_t, 7>{0, 3, 7, 4, 6, 25, 0x1234}));
    EXPECT_FALSE(s.isDelet);
    EXPECT_FALSE(s.isSort);
    EXPECT_FALSE(s.isHighLight);
    EXPECT_EQ(s.filterString, filter);
    EXPECT_FALSE(s.inList);
    EXPECT_TRUE(s.needYohaku) << "the older form holds no needYohaku";
    EXPECT_EQ(entries(s.addressFilter), std::vector<std::string>{"山田@example.jp"});
    EXPECT_EQ(entries(s.domainFilter), std::vector<std::string>{"spam.jp"});

    ASSERT_TRUE(store.settei(s));
    // The reserved field is carried unchanged.
    EXPECT_EQ(readAll(file()), currentForm(codes(3, 7, 4, 6, 25, 0x1234), false, filter, true));
}

struct ShortFileCase {
    const char* name;
    std::string bytes;
    std::string filter;
    bool inList;
    bool needYohaku;
};

class ShortFiles : public Prefs, public ::testing::WithParamInterface<ShortFileCase> {};

// What the settings hold before the read: values a read must either replace
// or leave alone.
Settings before() {
    Settings s;
    s.filterString = "kept@example.jp";
    s.needYohaku = true;
    s.inList = false;
    return s;
}

TEST_P(ShortFiles, ReadAsTheLayoutSays) {
    const auto& c = GetParam();
    store(c.bytes);
    PrefStore store(m_folder);
    Settings s = before();
    store.Open(s);
    EXPECT_EQ(s.prefN, (std::array<std::int32_t, 7>{0, 12, 7, 8, 14, 3, -1}));
    EXPECT_TRUE(s.isDelet);
    EXPECT_FALSE(s.isSort);
    EXPECT_EQ(s.filterString, c.filter);
    EXPECT_EQ(s.inList, c.inList);
    EXPECT_EQ(s.needYohaku, c.needYohaku);
}

const std::string kCodes = codes(12, 7, 8, 14, 3, -1);

INSTANTIATE_TEST_SUITE_P(Prefs, ShortFiles,
                         ::testing::Values(
                             // Only the codes: inList becomes true, the rest keeps its values.
                             ShortFileCase{"EndsAfterTheCodes", kCodes, "kept@example.jp", true, true},
                             // The current form's marker and inList, then nothing.
                             ShortFileCase{"EndsAfterInList",
                                           kCodes + "\x03"
                                                    "114\x01",
                                           "", true, false},
                             ShortFileCase{"EndsInsideTheTextLength",
                                           kCodes +
                                               "\x03"
                                               "114\x01" +
                                               std::string(2, '\0'),
                                           "", true, false},
                             // A length larger than the rest is damage: no text,
                             // and the flag after it is past the end.
                             ShortFileCase{"HugeLength",
                                           kCodes +
                                               "\x03"
                                               "114\x01" +
                                               be32(0x7FFFFFFF) + "a@b.jp\x01",
                                           "", true, false},
                             ShortFileCase{"NegativeLength",
                                           kCodes +
                                               "\x03"
                                               "114\x01" +
                                               be32(-2) + "a@b.jp\x01",
                                           "", true, false},
                             ShortFileCase{"LengthOneTooLarge",
                                           kCodes +
                                               "\x03"
                                               "114\x01" +
                                               be32(8) + "a@b.jp\x01",
                                           "", true, false},
                             ShortFileCase{"ZeroLengthThenFlag",
                                           kCodes +
                                               "\x03"
                                               "114" +
                                               std::string(1, '\0') + be32(0) + "\x01",
                                           "", false, true},
                             // Bytes that are not UTF-8 never reach the settings as such.
                             ShortFileCase{"BrokenUtf8",
                                           kCodes +
                                               "\x03"
                                               "114\x01" +
                                               be32(4) +
                                               "a\xFF\xFE"
                                               "b\x01",
                                           "a\xEF\xBF\xBD\xEF\xBF\xBD"
                                           "b",
                                           true, true},
                             // Any non-zero byte is true.
                             ShortFileCase{"FlagBytesOtherThanOne",
                                           kCodes +
                                               "\x03"
                                               "114\x07" +
                                               be32(1) + "x\x80",
                                           "x", true, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// A full file cut at every length reads without harm: each field that is
// wholly there is read, each that is not (a cut filter text included) gives
// 0, false or empty text.
TEST_F(Prefs, FileCutAtEveryOffset) {
    const std::string filter = "日本語,***@ex.jp";
    const std::string full = currentForm(codes(3, 9, 4, 6, 70000, -2), true, filter, true);
    const std::size_t textStart = 23;
    const std::size_t textEnd = textStart + filter.size();
    ASSERT_EQ(full.size(), textEnd + 1);
    const std::int32_t code[7] = {0, 3, 9, 4, 6, 70000, -2};
    const std::size_t codeEnd[7] = {0, 2, 4, 6, 8, 12, 14};

    for (std::size_t cut = 1; cut <= full.size(); ++cut) {
        SCOPED_TRACE(cut);
        store(full.substr(0, cut));
        PrefStore store(m_folder);
        Settings s = before();
        store.yomikomi(s);
        for (int i = 1; i <= 6; ++i) {
            EXPECT_EQ(s.prefN[i], cut >= codeEnd[i] ? code[i] : 0) << "element " << i;
        }
        EXPECT_EQ(s.isDelet, false);
        EXPECT_EQ(s.isSort, cut >= 4);
        if (cut <= 14) {
            EXPECT_TRUE(s.inList);
            EXPECT_EQ(s.filterString, "kept@example.jp");
            EXPECT_TRUE(s.needYohaku);
            continue;
        }
        EXPECT_EQ(s.inList, cut >= 19);
        const std::string text = cut >= textEnd ? filter : "";
        EXPECT_EQ(s.filterString, text);
        EXPECT_EQ(s.needYohaku, cut > textEnd);
        // The filter lists follow the text that was read.
        if (!text.empty()) {
            Settings expected;
            expected.filterString = text;
            expected.shiwake();
            EXPECT_EQ(s.addressFilter, expected.addressFilter);
            EXPECT_EQ(s.domainFilter, expected.domainFilter);
        }
    }
}

TEST_F(Prefs, RandomBytesNeverHarm) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t size = rng() % 48;
        std::string bytes(size, '\0');
        for (auto& b : bytes) {
            b = static_cast<char>(rng());
        }
        // Half the files carry the current form's marker, so the long text
        // and its length are exercised too.
        if (round % 2 == 0 && size > 19) {
            bytes.replace(14, 4,
                          "\x03"
                          "114");
        }
        store(bytes);
        PrefStore store(m_folder);
        Settings s;
        store.Open(s);
        EXPECT_LE(s.filterString.size(), 3 * size + 3);
        EXPECT_EQ(quillon::convModule::convToUTF8(s.filterString, Encoding::UTF8).invalid, 0u);
        if (size == 0) {
            expectDefaults(s);
        } else {
            EXPECT_EQ(readAll(file()), bytes) << "reading never writes";
        }
    }
}

TEST_F(Prefs, VanishedFileIsCreatedAgainWithTheConfirmedSettings) {
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    fs::remove(file());

    s.prefN[1] = Settings::kDeleteOff;
    s.prefN[4] = Settings::kLayoutLineComma;
    s.filterString = "a@b.jp,***@c.jp";
    s.needYohaku = true;
    ASSERT_TRUE(store.settei(s));
    EXPECT_EQ(store.lastError(), "");
    EXPECT_EQ(readAll(file()), currentForm(codes(3, 9, 8, 14, 10, 0), true, "a@b.jp,***@c.jp", true));
    EXPECT_FALSE(s.isDelet);
    EXPECT_EQ(s.prefN[4], Settings::kLayoutLineComma);
    EXPECT_EQ(entries(s.domainFilter), std::vector<std::string>{"c.jp"});
}

// Places where no preferences file can be kept: the program runs on the
// defaults and says why.
class UnusableFolder : public Prefs, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnusableFolder, DefaultsInMemoryAndAReason) {
    const std::string kind = GetParam();
    fs::create_directories(m_root);
    if (kind == "FolderIsAFile") {
        writeAll(m_root / "config", "not a folder");
    } else if (kind == "FileIsAFolder") {
        fs::create_directories(file());
    } else {
        if (geteuid() == 0) {
            GTEST_SKIP() << "permissions do not bind root";
        }
        fs::create_directories(m_folder);
        fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
    }

    PrefStore store(m_folder);
    Settings s;
    s.filterString = "a@b.jp";
    store.Open(s);
    expectDefaults(s);
    EXPECT_NE(store.lastError(), "");
    EXPECT_NE(store.lastErrorNumber(), 0);

    // A save fails but what the user confirmed is in force for this run.
    s.prefN[2] = Settings::kSortOff;
    EXPECT_FALSE(store.settei(s));
    EXPECT_NE(store.lastError(), "");
    EXPECT_NE(store.lastErrorNumber(), 0);
    EXPECT_FALSE(s.isSort);
    EXPECT_EQ(entries(s.addressFilter), std::vector<std::string>{"a@b.jp"});
}

INSTANTIATE_TEST_SUITE_P(Prefs, UnusableFolder, ::testing::Values("FolderIsAFile", "FileIsAFolder", "ReadOnlyFolder"));

TEST_F(Prefs, ReadOnlyFileIsStillRead) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    store(currentForm(codes(3, 7, 4, 6, 2, 0), false, "a@b.jp", true));
    fs::permissions(file(), fs::perms::owner_read);
    PrefStore store(m_folder);
    Settings s;
    store.Open(s);
    EXPECT_EQ(s.filterString, "a@b.jp");
    EXPECT_FALSE(store.settei(s));
    EXPECT_NE(store.lastError(), "");
    EXPECT_EQ(store.lastErrorNumber(), EACCES); // the reason of the open, not of the write
}

// Saves that fail or are cut short leave the stored settings as they were;
// whatever a reader sees is a whole save.
TEST_F(Prefs, FailedSaveLeavesTheOldFileWhole) {
    struct Faulty : quillon::FileOps {
        long budget = 0; // bytes written before the disk is full
        long write(int fd, const void* data, unsigned long size) override {
            if (budget <= 0) {
                errno = ENOSPC;
                return -1;
            }
            const long n = FileOps::write(fd, data, std::min<unsigned long>(size, static_cast<unsigned long>(budget)));
            budget -= n;
            return n;
        }
    };
    const std::string old = currentForm(codes(3, 9, 8, 14, 10, 0), false, std::string(3990, 'f'), true);
    for (long budget : {0L, 1L, 4073L}) {
        SCOPED_TRACE(budget);
        store(old);
        Faulty faulty;
        faulty.budget = budget;
        PrefStore store(m_folder);
        store.setFileOps(&faulty);
        Settings s;
        store.Open(s);
        s.filterString = std::string(11989, 'n');
        s.needYohaku = false;
        EXPECT_FALSE(store.settei(s));
        EXPECT_NE(store.lastError(), "");
        EXPECT_EQ(readAll(file()), old);
        EXPECT_EQ(std::vector<std::string>{PrefStore::kFileName}, [&] {
            std::vector<std::string> names;
            for (const auto& e : fs::directory_iterator(m_folder)) {
                names.push_back(e.path().filename().string());
            }
            return names;
        }());
    }
}

// Two windows saving at once while a third reads: every read finds one whole
// save, never the start of one and the rest of another.
TEST_F(Prefs, ConcurrentSavesAreNeverTorn) {
    Settings initial;
    PrefStore(m_folder).init(initial);
    std::atomic<bool> saving{true};
    const auto saver = [this](char letter) {
        PrefStore store(m_folder);
        Settings s;
        s.filterString = std::string(200000, letter);
        for (int i = 0; i < 15; ++i) {
            s.needYohaku = i % 2 == 0;
            store.settei(s);
        }
    };
    std::thread a(saver, 'a');
    std::thread b(saver, 'b');
    std::thread stopper([&] {
        a.join();
        b.join();
        saving = false;
    });
    int reads = 0;
    while (saving || reads == 0) {
        PrefStore store(m_folder);
        Settings s;
        store.yomikomi(s);
        ++reads;
        if (s.filterString.empty()) {
            continue; // the defaults, before the first save
        }
        ASSERT_EQ(s.filterString.size(), 200000u);
        ASSERT_EQ(s.filterString.find_first_not_of(s.filterString[0]), std::string::npos);
    }
    stopper.join();
}

// Odd things at the place of the file, and length fields that promise more
// than any stored text: the start neither waits nor reads them.
TEST_F(Prefs, OddFilesAreRefusedAtOnce) {
    const auto started = std::chrono::steady_clock::now();
    {
        fs::create_directories(m_folder);
        ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
        PrefStore store(m_folder);
        Settings s;
        s.filterString = "kept";
        store.Open(s);
        expectDefaults(s);
        EXPECT_NE(store.lastError(), "");
        EXPECT_FALSE(store.settei(s));
        EXPECT_TRUE(fs::is_fifo(file()));
        fs::remove(file());
    }
    // A sparse file far larger than its text: one length past its end, one
    // within it but beyond what a save would ever store.
    for (const std::uint32_t length : {0x7FFFFFFFu, 0x5000000u}) {
        SCOPED_TRACE(length);
        store(kCodes +
              "\x03"
              "114\x01" +
              be32(length));
        fs::resize_file(file(), std::uintmax_t{96} << 20);
        PrefStore store(m_folder);
        Settings s = before();
        store.Open(s);
        EXPECT_EQ(s.filterString, "");
        EXPECT_FALSE(s.needYohaku);
        EXPECT_EQ(s.prefN[4], 14);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

} // namespace
