#include "extract/pipeline.h"
#include "extract/searchRun.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
namespace pipeline = quillon::pipeline;

namespace {

class FileSearch : public ::testing::Test {
protected:
    quillon::testing::TempFolder m_tmp;
    fs::path m_root = m_tmp.path();
};

// What a search gave, source by source.
class Recorder : public pipeline::SearchSink {
public:
    void addressFound(std::string_view a, std::size_t source) override {
        found.push_back(std::to_string(source) + ":" + std::string(a));
    }
    void sourceFinished(const pipeline::SourceReport& r) override { reports.push_back(r); }
    std::vector<std::string> found;
    std::vector<pipeline::SourceReport> reports;
};

// A file that another program shortens while it is read ends as a read
// result naming it, with what was read of it; the next source goes on.
TEST_F(FileSearch, FileShortenedWhileReadIsNamedAndTheOthersGoOn) {
    const fs::path big = m_root / "big.txt";
    const fs::path next = m_root / "next.txt";
    std::string text = "first@a.jp\n";
    while (text.size() < (std::size_t{1} << 20)) {
        text += "filler line without an address\n";
    }
    text += "last@a.jp\n";
    quillon::testing::writeAll(big, text);
    quillon::testing::writeAll(next, "next@b.jp\n");

    class Shortener : public Recorder {
    public:
        explicit Shortener(fs::path file) : m_file(std::move(file)) {}
        void sourceStarted(std::size_t index, std::size_t total, const std::string&) override {
            EXPECT_EQ(total, 2u);
            if (index == 0) {
                fs::resize_file(m_file, 100); // the reader is only a few pieces ahead
            }
        }

    private:
        fs::path m_file;
    } sink(big);
    pipeline::SearchOptions options;
    options.encoding = quillon::Encoding::UTF8;
    options.pieceSize = 64;
    options.piecesAhead = 1;
    const pipeline::SearchReport report = pipeline::runSearch(
        {pipeline::Source::file(big.string()), pipeline::Source::file(next.string())}, options, sink);
    ASSERT_EQ(sink.reports.size(), 2u);
    EXPECT_EQ(sink.reports[0].error, pipeline::ReadError::Shortened);
    EXPECT_EQ(sink.reports[0].path, big.string());
    EXPECT_LT(sink.reports[0].bytes, text.size());
    EXPECT_TRUE(sink.reports[1].ok());
    EXPECT_EQ(sink.found, (std::vector<std::string>{"0:first@a.jp", "1:next@b.jp"}));
    EXPECT_EQ(report.failed, 1u);
    EXPECT_EQ(report.read, 1u);
}

// The listing comes first: the total is known at the first source, folders
// that cannot be listed and files that cannot be opened are sources with a
// reason, and every address names its source.
TEST_F(FileSearch, SearchOverFoldersAndFilesReportsEverySource) {
    fs::create_directories(m_root / "drop/sub");
    quillon::testing::writeAll(m_root / "drop/a.txt", "a1@x.jp a2@x.jp\n");
    quillon::testing::writeAll(m_root / "drop/sub/b.txt", "bb@x.jp");
    quillon::testing::writeAll(m_root / "drop/c.txt", "");
    ASSERT_EQ(::mkfifo((m_root / "drop/fifo").c_str(), 0600), 0); // skipped in a folder
    quillon::testing::writeAll(m_root / "one.txt", "one@x.jp");
    Recorder sink;
    pipeline::SearchOptions options;
    options.encoding = quillon::Encoding::None;
    const pipeline::SearchReport report = pipeline::runSearch({pipeline::Source::file((m_root / "one.txt").string()),
                                                               pipeline::Source::file((m_root / "drop").string()),
                                                               pipeline::Source::file((m_root / "missing").string())},
                                                              options, sink);
    EXPECT_EQ(sink.found, (std::vector<std::string>{"0:one@x.jp", "1:a1@x.jp", "1:a2@x.jp", "3:bb@x.jp"}));
    ASSERT_EQ(sink.reports.size(), 5u);
    EXPECT_EQ(sink.reports[2].path, (m_root / "drop/c.txt").string());
    EXPECT_EQ(sink.reports[1].addresses, 2u);
    EXPECT_EQ(sink.reports[1].used, quillon::Encoding::UTF8);
    EXPECT_EQ(sink.reports[4].error, pipeline::ReadError::NotFound);
    EXPECT_EQ(sink.reports[4].systemError, ENOENT);
    EXPECT_EQ(report.sources, 5u);
    EXPECT_EQ(report.read, 4u);
    EXPECT_EQ(report.failed, 1u);
    EXPECT_EQ(report.addresses, 4u);
}

// Listing a folder through readdir and one buffer of names gives what the
// walk over path objects gives: the same files and failing folders, in the
// same order, with the same paths and texts, over names that share long
// beginnings or hold bytes above 0x7F, links (to files, to folders, back up,
// dangling, looping), hidden entries and a FIFO, whatever form the folder is
// named in.
TEST_F(FileSearch, FolderListingGivesWhatTheWalkGives) {
    std::mt19937 rng(7);
    const std::vector<std::string> syllables = {"a", "aaaa", "b", "A", "_", "-", "~", "0", "\xC3\xA9", "\xFF", ".x"};
    const auto randomName = [&] {
        std::string name;
        for (std::size_t n = 1 + rng() % 5; n > 0; --n) {
            name += syllables[rng() % syllables.size()];
        }
        return name;
    };
    std::vector<fs::path> folders = {m_root / "tree"};
    fs::create_directories(folders[0]);
    for (int i = 0; i < 400; ++i) {
        const fs::path& parent = folders[rng() % folders.size()];
        const fs::path path = parent / randomName();
        if (fs::exists(fs::symlink_status(path))) {
            continue;
        }
        switch (rng() % 10) {
        case 0:
            fs::create_directory(path);
            folders.push_back(path);
            break;
        case 1:
            fs::create_symlink(folders[rng() % folders.size()], path);
            break;
        case 2:
            fs::create_symlink(rng() % 2 == 0 ? fs::path("..") : path.filename(), path); // up, or a loop
            break;
        case 3:
            fs::create_symlink(m_root / "nowhere", path);
            break;
        case 4:
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            break;
        default:
            quillon::testing::writeAll(path, "x");
        }
    }
    for (const char* end : {"", "b", "A", "\xFF", "ab", "a", "a\xC3\xA9"}) {
        quillon::testing::writeAll(m_root / "tree" / (std::string("prefix12") + end), "x");
    }
    for (int i = 0; i < 60; ++i) { // a folder large enough to be sorted by bytes
        quillon::testing::writeAll(m_root / "tree" / ("name" + std::to_string(1000 + i * 7919 % 1000)), "x");
    }
    const std::string tree = (m_root / "tree").string();
    for (const std::string& given : {tree, tree + "/", tree + "//", tree + "/./" + folders.back().filename().string(),
                                     (m_root / "missing").string()}) {
        std::vector<std::string> walked;
        pipeline::walkFolder(
            given, [&](const fs::path& f) { walked.push_back("file " + f.string()); },
            [&](const fs::path& f, const std::string& why) { walked.push_back("error " + f.string() + " " + why); });
        std::vector<std::string> listed;
        pipeline::listFolder(
            given, [&](std::string_view f) { listed.push_back("file " + std::string(f)); },
            [&](std::string_view f, const std::string& why) {
                listed.push_back("error " + std::string(f) + " " + why);
            });
        SCOPED_TRACE(given);
        EXPECT_EQ(listed, walked);
        EXPECT_FALSE(walked.empty());
    }
}

} // namespace
