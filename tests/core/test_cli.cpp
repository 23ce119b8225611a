#include "app/prefStore.h"
#include "cli/options.h"
#include "cli/run.h"
#include "extract/pipeline.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <chrono>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using quillon::Encoding;
using quillon::PrefStore;
using quillon::Settings;
namespace cli = quillon::cli;
namespace fs = std::filesystem;

namespace {

// ---- Parsing -----------------------------------------------------------------------

struct GoodArgs {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const cli::Options&)> check;
};

void PrintTo(const GoodArgs& c, std::ostream* os) {
    *os << c.name;
}

class GoodArguments : public ::testing::TestWithParam<GoodArgs> {};

TEST_P(GoodArguments, AreParsed) {
    const cli::ParseResult r = cli::parseArguments(GetParam().args);
    ASSERT_TRUE(r.ok()) << r.error;
    GetParam().check(r.options);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, GoodArguments,
    ::testing::Values(
        GoodArgs{"Defaults",
                 {"a.txt"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.inputs, std::vector<std::string>{"a.txt"});
                     EXPECT_EQ(o.encoding, Encoding::None);
                     EXPECT_FALSE(o.noPrefs || o.quiet || o.utf8Output || o.help || o.version);
                     EXPECT_TRUE(o.prefs.empty() && o.output.empty());
                     EXPECT_FALSE(o.dedupe || o.sort || o.check || o.filter || o.filterMarks || o.layout || o.perLine ||
                                  o.blankLine);
                     EXPECT_EQ(o.format, cli::OutputFormat::Export);
                 }},
        GoodArgs{"PathsAndOptionsMixedKeepTheirOrder",
                 {"b", "--quiet", "a", "-", "c"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.inputs, (std::vector<std::string>{"b", "a", "-", "c"}));
                     EXPECT_TRUE(o.quiet);
                 }},
        GoodArgs{"DoubleDashEndsOptions",
                 {"--no-sort", "--", "--dedupe", "-q"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.inputs, (std::vector<std::string>{"--dedupe", "-q"}));
                     EXPECT_EQ(o.sort, false);
                     EXPECT_FALSE(o.dedupe);
                     EXPECT_FALSE(o.quiet);
                 }},
        GoodArgs{"EncodingNamesIgnoreCaseAndDashOrUnderscore",
                 {"--encoding", "Shift-JIS", "x"},
                 [](const cli::Options& o) { EXPECT_EQ(o.encoding, Encoding::ShiftJIS); }},
        GoodArgs{"EncodingAfterEquals",
                 {"--encoding=euc_jp", "x"},
                 [](const cli::Options& o) { EXPECT_EQ(o.encoding, Encoding::EucJP); }},
        GoodArgs{"ShortEncoding",
                 {"-e", "iso-2022-jp", "x"},
                 [](const cli::Options& o) { EXPECT_EQ(o.encoding, Encoding::ISO2022JP); }},
        GoodArgs{"GuessAfterAnotherChoice",
                 {"--encoding", "utf-8", "--encoding", "guess", "x"},
                 [](const cli::Options& o) { EXPECT_EQ(o.encoding, Encoding::None); }},
        GoodArgs{"Switches",
                 {"--no-dedupe", "--sort", "--check", "--no-check", "x"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.dedupe, false);
                     EXPECT_EQ(o.sort, true);
                     EXPECT_EQ(o.check, false); // the last one counts
                 }},
        GoodArgs{"EmptyFilterClearsTheFilter",
                 {"--filter", "", "--filter-action", "remove", "x"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.filter, std::string());
                     EXPECT_EQ(o.filterMarks, false);
                 }},
        GoodArgs{"FilterStartingWithDash",
                 {"--filter=-a@b.jp,***@c.jp", "--filter-action", "CHECK", "x"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.filter, std::string("-a@b.jp,***@c.jp"));
                     EXPECT_EQ(o.filterMarks, true);
                 }},
        GoodArgs{"LayoutLine",
                 {"--layout", "line", "x"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.layout, Settings::kLayoutLine);
                     EXPECT_FALSE(o.perLine);
                 }},
        GoodArgs{"LayoutComma",
                 {"--layout=comma", "x"},
                 [](const cli::Options& o) { EXPECT_EQ(o.layout, Settings::kLayoutComma); }},
        GoodArgs{"LayoutNPerLine",
                 {"--layout", "3", "--blank-line", "x"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.layout, Settings::kLayoutLineComma);
                     EXPECT_EQ(o.perLine, 3);
                     EXPECT_EQ(o.blankLine, true);
                 }},
        GoodArgs{"TsvAndOutput",
                 {"--format", "tsv", "-o", "out.tsv", "x"},
                 [](const cli::Options& o) {
                     EXPECT_EQ(o.format, cli::OutputFormat::Tsv);
                     EXPECT_EQ(o.output, "out.tsv");
                 }},
        GoodArgs{"Utf8Output",
                 {"--output-encoding", "UTF-8", "x"},
                 [](const cli::Options& o) { EXPECT_TRUE(o.utf8Output); }},
        GoodArgs{
            "Prefs", {"--prefs", "/some/where", "x"}, [](const cli::Options& o) { EXPECT_EQ(o.prefs, "/some/where"); }},
        GoodArgs{"NoPrefs", {"--no-prefs", "x"}, [](const cli::Options& o) { EXPECT_TRUE(o.noPrefs); }},
        GoodArgs{"HelpNeedsNoInput", {"--help"}, [](const cli::Options& o) { EXPECT_TRUE(o.help); }},
        GoodArgs{"VersionNeedsNoInput", {"--version"}, [](const cli::Options& o) { EXPECT_TRUE(o.version); }}));

struct BadArgs {
    const char* name;
    std::vector<std::string> args;
    std::string message; // a part of the one-line message
};

void PrintTo(const BadArgs& c, std::ostream* os) {
    *os << c.name;
}

class BadArguments : public ::testing::TestWithParam<BadArgs> {};

TEST_P(BadArguments, AreRefusedWithAClearMessage) {
    const cli::ParseResult r = cli::parseArguments(GetParam().args);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find(GetParam().message), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;

    // The program prints it with a hint and ends with status 2, writing no output.
    std::ostringstream err;
    cli::RunIo io;
    io.outFd = -1; // any write to the output would fail
    io.err = &err;
    EXPECT_EQ(cli::runMain(GetParam().args, io), cli::kExitUsage);
    EXPECT_EQ(err.str(), "quillon-extract: " + r.error + "\nTry 'quillon-extract --help' for more information.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BadArguments,
    ::testing::Values(
        BadArgs{"NoInput", {}, "no input given"}, BadArgs{"OnlyOptions", {"--no-sort", "--quiet"}, "no input given"},
        BadArgs{"UnknownLong", {"--bogus", "x"}, "unknown option '--bogus'"},
        BadArgs{"UnknownShort", {"-z", "x"}, "unknown option '-z'"},
        BadArgs{"UnknownShortInABundle", {"-qz", "x"}, "unknown option '-z'"},
        BadArgs{"UnknownLongPrefix", {"--quiets", "x"}, "unknown option '--quiets'"},
        BadArgs{"AmbiguousPrefix", {"--out", "f", "x"}, "'--out' is ambiguous (--output, --output-encoding)"},
        BadArgs{"AmbiguousNo", {"--no-", "x"}, "'--no-' is ambiguous"},
        BadArgs{"MissingValueInABundle", {"x", "-qe"}, "option '-e' needs a value"},
        BadArgs{"MissingValueOfAPrefix", {"x", "--enc"}, "option '--encoding' needs a value"},
        BadArgs{"ValueOnAFlagPrefix", {"--qu=yes", "x"}, "option '--quiet' takes no value"},
        BadArgs{"LineEnd", {"--line-end", "nl", "x"}, "--line-end: 'nl' is not cr, lf or crlf"},
        BadArgs{"TsvWithLineEnd", {"--format", "tsv", "--line-end", "lf", "x"}, "--line-end does not apply"},
        BadArgs{"UnknownEncoding", {"--encoding", "latin1", "x"}, "unknown encoding 'latin1'"},
        BadArgs{"MissingValue", {"x", "--encoding"}, "option '--encoding' needs a value"},
        BadArgs{"MissingShortValue", {"x", "-o"}, "option '-o' needs a value"},
        BadArgs{"LayoutZero", {"--layout", "0", "x"}, "'0' is not line, comma or a number"},
        BadArgs{"LayoutNegative", {"--layout=-2", "x"}, "'-2' is not line, comma"},
        BadArgs{"LayoutTrailingText", {"--layout", "3x", "x"}, "'3x' is not line"},
        BadArgs{"LayoutTooLarge", {"--layout", "99999999999", "x"}, "is not line, comma"},
        BadArgs{"FilterAction", {"--filter-action", "delete", "x"}, "'delete' is not remove or check"},
        BadArgs{"Format", {"--format", "csv", "x"}, "'csv' is not export or tsv"},
        BadArgs{"OutputEncoding", {"--output-encoding", "euc-jp", "x"}, "is not shift_jis or utf-8"},
        BadArgs{"EmptyOutput", {"--output=", "x"}, "--output needs a file name"},
        BadArgs{"ValueOnAFlag", {"--quiet=yes", "x"}, "option '--quiet' takes no value"},
        BadArgs{"PrefsAndNoPrefs", {"--prefs", "p", "--no-prefs", "x"}, "cannot be used together"},
        BadArgs{"TsvWithLayout", {"--format", "tsv", "--layout", "line", "x"}, "--layout does not apply"},
        BadArgs{"WithSourceWithoutTsv", {"--with-source", "x"}, "--with-source applies to --format tsv only"},
        BadArgs{"TsvWithBlankLine", {"--blank-line", "--format=tsv", "x"}, "--blank-line does not"},
        BadArgs{"TsvWithEncoding",
                {"--format", "tsv", "--output-encoding", "shift_jis", "x"},
                "--output-encoding does not apply"}));

// The forms getopt_long accepts mean what the spelled-out arguments mean.
struct OptionForm {
    std::vector<std::string> args;
    std::vector<std::string> spelledOut;
};

auto fieldsOf(const cli::Options& o) {
    return std::tuple(o.inputs, o.encoding, o.noPrefs, o.prefs, o.dedupe, o.sort, o.check, o.filter, o.filterMarks,
                      o.layout, o.perLine, o.blankLine, o.lineEnd, o.format, o.utf8Output, o.output, o.quiet, o.help,
                      o.version);
}

TEST(CliOptionForms, MeanTheSameAsSpelledOut) {
    const std::vector<OptionForm> forms = {
        {{"-qe", "utf-8", "x"}, {"--quiet", "--encoding", "utf-8", "x"}},
        {{"-eutf-8", "x"}, {"--encoding", "utf-8", "x"}},
        {{"-qeutf-8", "x"}, {"--quiet", "--encoding", "utf-8", "x"}},
        {{"--enc", "utf-8", "x"}, {"--encoding", "utf-8", "x"}},
        {{"--e=euc-jp", "x"}, {"--encoding", "euc-jp", "x"}},
        {{"-qoout.txt", "x"}, {"--quiet", "--output", "out.txt", "x"}},
        {{"-o-", "x"}, {"--output", "-", "x"}},
        {{"-qho", "f", "x"}, {"--quiet", "--help", "--output", "f", "x"}},
        {{"--output-e=utf-8", "x"}, {"--output-encoding", "utf-8", "x"}},
        {{"--output", "f", "x"}, {"-o", "f", "x"}}, // the exact name wins over a longer one
        {{"--filter", "a@b.jp", "--filter-a", "check", "x"}, {"--filter=a@b.jp", "--filter-action=check", "x"}},
        {{"--filter", "-q", "x"}, {"--filter=-q", "x"}}, // a value may start with "-"
        {{"--no-d", "--no-s", "--no-c", "--no-b", "x"},
         {"--no-dedupe", "--no-sort", "--no-check", "--no-blank-line", "x"}},
        {{"--no-p", "--lay", "3", "--bl", "x"}, {"--no-prefs", "--layout", "3", "--blank-line", "x"}},
        {{"--line=lf", "--fo", "export", "x"}, {"--line-end", "lf", "--format=export", "x"}},
        {{"--vers"}, {"--version"}},
        {{"-h"}, {"--help"}},
        {{"x", "-q", "-", "y"}, {"--quiet", "x", "-", "y"}},
        {{"", "x"}, {"--", "", "x"}},
        {{"--", "-q", "--enc", "-"}, {"--", "-q", "--enc", "-"}},
        {{"a", "--", "--", "-e"}, {"--", "a", "--", "-e"}},
    };
    for (const OptionForm& form : forms) {
        // A parse that failed inside a bundle of short options comes first,
        // so the state getopt_long keeps between calls must be reset.
        ASSERT_FALSE(cli::parseArguments({"-qzq", "x"}).ok());
        const cli::ParseResult r = cli::parseArguments(form.args);
        const cli::ParseResult expected = cli::parseArguments(form.spelledOut);
        ASSERT_TRUE(r.ok()) << form.args[0] << ": " << r.error;
        ASSERT_TRUE(expected.ok()) << form.spelledOut[0] << ": " << expected.error;
        EXPECT_EQ(fieldsOf(r.options), fieldsOf(expected.options)) << ::testing::PrintToString(form.args);
    }
    // The spelled-out forms themselves, so that a parser ignoring everything still fails.
    const cli::Options o = cli::parseArguments({"-qeutf-8", "-o-", "--line=crlf", "--", "-x"}).options;
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.encoding, Encoding::UTF8);
    EXPECT_EQ(o.output, "-");
    EXPECT_EQ(o.lineEnd, "\r\n");
    EXPECT_EQ(o.inputs, std::vector<std::string>{"-x"});
}

// The help names every option, and every option it names is accepted.
TEST(CliHelp, ListsEveryOptionTheParserTakes) {
    const std::string help = cli::helpText();
    const std::vector<std::vector<std::string>> options = {{"--encoding", "utf-8"},
                                                           {"-e", "utf-8"},
                                                           {"--prefs", "p"},
                                                           {"--no-prefs"},
                                                           {"--dedupe"},
                                                           {"--no-dedupe"},
                                                           {"--sort"},
                                                           {"--no-sort"},
                                                           {"--check"},
                                                           {"--no-check"},
                                                           {"--filter", "a"},
                                                           {"--filter-action", "remove"},
                                                           {"--layout", "line"},
                                                           {"--blank-line"},
                                                           {"--no-blank-line"},
                                                           {"--output-encoding", "utf-8"},
                                                           {"--line-end", "lf"},
                                                           {"--format", "tsv"},
                                                           {"--with-source", "--format", "tsv"},
                                                           {"--output", "f"},
                                                           {"-o", "f"},
                                                           {"--quiet"},
                                                           {"-q"},
                                                           {"--help"},
                                                           {"-h"},
                                                           {"--version"}};
    for (const auto& option : options) {
        EXPECT_NE(help.find(option[0]), std::string::npos) << option[0];
        std::vector<std::string> args = option;
        args.emplace_back("x");
        EXPECT_TRUE(cli::parseArguments(args).ok()) << option[0];
    }
}

// ---- Runs ----------------------------------------------------------------------------

constexpr auto readFile = &quillon::testing::readAll;

void writeFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    quillon::testing::writeAll(p, bytes);
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Every run works in a fresh temporary folder; the environment it sees points
// the user's configuration folder into it, so the user's own preferences are
// never read.
class CliRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_env["HOME"] = (m_root / "home").string();
        m_env["XDG_CONFIG_HOME"] = (m_root / "config").string();
    }

    fs::path path(const std::string& name) const { return m_root / name; }
    fs::path file(const std::string& name, const std::string& bytes) const {
        writeFile(path(name), bytes);
        return path(name);
    }

    // Runs the program's main logic with standard input fed through a pipe by
    // another thread (only when "-" is among the arguments).
    CliRun run(std::vector<std::string> args, const std::string& input = {}) {
        CliRun r;
        const fs::path outPath = path("stdout.bin");
        const int outFd = ::open(outPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(outFd, 0);
        int pipeFds[2] = {-1, -1};
        EXPECT_EQ(::pipe(pipeFds), 0);
        std::thread writer([fd = pipeFds[1], input] {
            std::string_view rest = input;
            while (!rest.empty()) {
                const ssize_t put = ::write(fd, rest.data(), rest.size());
                if (put <= 0) {
                    break;
                }
                rest.remove_prefix(static_cast<std::size_t>(put));
            }
            ::close(fd);
        });
        std::ostringstream err;
        cli::RunIo io;
        io.inFd = pipeFds[0];
        io.outFd = outFd;
        io.err = &err;
        io.getenv = [this](const char* name) -> const char* {
            const auto it = m_env.find(name);
            return it == m_env.end() ? nullptr : it->second.c_str();
        };
        r.status = cli::runMain(args, io);
        ::close(pipeFds[0]); // a writer the run did not read from ends now
        writer.join();
        ::close(outFd);
        r.out = readFile(outPath);
        fs::remove(outPath);
        r.err = err.str();
        return r;
    }

    // Runs with the output going to `outFd` and no standard input; the
    // messages land in m_err.
    int runTo(int outFd, const std::vector<std::string>& args) {
        std::ostringstream err;
        cli::RunIo io;
        io.inFd = -1;
        io.outFd = outFd;
        io.err = &err;
        io.getenv = [this](const char* name) -> const char* {
            const auto it = m_env.find(name);
            return it == m_env.end() ? nullptr : it->second.c_str();
        };
        const int status = cli::runMain(args, io);
        m_err = err.str();
        return status;
    }

    quillon::testing::TempFolder m_tmp;
    fs::path m_root = m_tmp.path();
    std::map<std::string, std::string> m_env;
    std::string m_err;
};

const std::vector<std::string> kPlain = {"--no-prefs", "--no-dedupe", "--no-sort", "--no-check", "--format", "tsv"};

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string tsvRow(const std::string& address, bool checked = false) {
    return (checked ? "1\t" : "0\t") + address + "\t" + address.substr(address.find('@') + 1) + "\n";
}

TEST_F(CliRunTest, FolderIsWalkedInOrderSkippingHiddenEntriesAndStoppingLinkLoops) {
    file("drop/b.txt", "bee@b.jp");
    file("drop/a.txt", "ant@a.jp");
    file("drop/sub/c.txt", "cat@c.jp");
    file("drop/.hidden.txt", "hid@h.jp");
    file("drop/.git/d.txt", "dot@d.jp");
    fs::create_directory_symlink("..", path("drop/sub/loop"));
    fs::create_directory_symlink(path("drop/sub"), path("drop/twice"));
    file("single.txt", "one@s.jp");

    const CliRun r = run(plus(kPlain, {path("single.txt").string(), path("drop").string()}));
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, tsvRow("one@s.jp") + tsvRow("ant@a.jp") + tsvRow("bee@b.jp") + tsvRow("cat@c.jp"));
    EXPECT_EQ(r.err, "");
}

// A folder of more files and more bytes than are read ahead of the scan, in
// several encodings (some with invalid bytes, so with warnings), large and
// empty files, FIFOs among them: the same output and the same messages in the
// same order as naming every file on the command line in the walk's order.
TEST_F(CliRunTest, FolderGivesWhatItsFilesNamedOneByOneGive) {
    std::vector<std::string> inOrder;
    const std::vector<std::string> bodies = {
        "plain@a.jp text\n",   "\x82\xA0 sjis@b.jp \x82\n", "\xA4\xA2 euc@c.jp\n", "\x1B$B$\"\x1B(B jis@d.jp\n", "",
        "&#64; ref&#64;e.jp\n"};
    for (int k = 0; k < 300; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "many/d%d/f%03d.txt", k % 7, k);
        std::string body;
        const std::size_t repeat = k % 50 == 0 ? 100000 : 1 + k % 5; // now and then a file of megabytes
        for (std::size_t r = 0; r < repeat; ++r) {
            body += bodies[static_cast<std::size_t>(k) % bodies.size()];
            body += "n" + std::to_string(k) + "x" + std::to_string(r % 3) + "@f.jp\n";
        }
        file(name, body);
    }
    ASSERT_EQ(::mkfifo(path("many/d3/pipe").c_str(), 0600), 0);
    quillon::pipeline::walkFolder(
        path("many"), [&](const fs::path& f) { inOrder.push_back(f.string()); },
        [](const fs::path&, const std::string&) {});
    ASSERT_EQ(inOrder.size(), 300u);

    for (const bool withSource : {false, true}) {
        const std::vector<std::string> options = withSource ? plus(kPlain, {"--with-source"}) : kPlain;
        const CliRun byFolder = run(plus(options, {path("many").string()}));
        const CliRun byFile = run(plus(options, inOrder));
        EXPECT_EQ(byFolder.status, byFile.status);
        EXPECT_TRUE(byFolder.out == byFile.out);
        EXPECT_EQ(byFolder.err, byFile.err);
        EXPECT_NE(byFolder.err.find("replaced with U+FFFD"), std::string::npos) << byFolder.err;
        EXPECT_EQ(byFolder.out.find("\t" + inOrder[1] + "\n") != std::string::npos, withSource);
    }
}

TEST_F(CliRunTest, UnreadableInputsAreNamedAndTheOthersGoOn) {
    file("first.txt", "first@a.jp");
    file("last.txt", "last@b.jp");
    const CliRun r = run(plus(
        kPlain, {path("first.txt").string(), path("missing.txt").string(), "/dev/null", path("last.txt").string()}));
    EXPECT_EQ(r.status, cli::kExitPartial);
    EXPECT_EQ(r.out, tsvRow("first@a.jp") + tsvRow("last@b.jp"));
    EXPECT_NE(r.err.find("quillon-extract: " + path("missing.txt").string() + ": no such file or folder\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("quillon-extract: /dev/null: not a regular file\n"), std::string::npos) << r.err;
}

// A FIFO named on the command line (as a shell's <(command) gives one) is read
// as a stream in its place, waiting for its writer; inside a folder one is
// skipped (see FolderGivesWhatItsFilesNamedOneByOneGive).
TEST_F(CliRunTest, NamedPipeIsReadAsAStream) {
    file("a.txt", "ant@a.jp");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    std::thread writer([fifo = path("fifo")] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the reader opens first and waits
        std::ofstream(fifo) << "piped@p.jp\n" << std::string(100000, 'x') << " tail@p.jp\n";
    });
    const CliRun r = run(plus(kPlain, {path("a.txt").string(), path("fifo").string(), path("a.txt").string()}));
    writer.join();
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, tsvRow("ant@a.jp") + tsvRow("piped@p.jp") + tsvRow("tail@p.jp") + tsvRow("ant@a.jp"));
}

TEST_F(CliRunTest, UnreadableFileInsideAFolderIsNamed) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop root";
    }
    file("drop/a.txt", "ant@a.jp");
    file("drop/b.txt", "bee@b.jp");
    file("drop/c.txt", "cat@c.jp");
    fs::permissions(path("drop/b.txt"), fs::perms::none);
    const CliRun r = run(plus(kPlain, {path("drop").string()}));
    EXPECT_EQ(r.status, cli::kExitPartial);
    EXPECT_EQ(r.out, tsvRow("ant@a.jp") + tsvRow("cat@c.jp"));
    EXPECT_NE(r.err.find(path("drop/b.txt").string() + ": permission denied"), std::string::npos) << r.err;
}

TEST_F(CliRunTest, StandardInputIsReadWholeInItsPlace) {
    file("a.txt", "ant@a.jp");
    // More than a pipe holds at once.
    std::string input;
    for (int i = 0; i < 20000; ++i) {
        input += "filler text ";
    }
    input += "pipe@p.jp";
    const CliRun r = run(plus(kPlain, {path("a.txt").string(), "-", path("a.txt").string()}), input);
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, tsvRow("ant@a.jp") + tsvRow("pipe@p.jp") + tsvRow("ant@a.jp"));
}

// "ア" is 0x83 0x41 in Shift_JIS: its second byte is "A", so a wrong reading
// shows in the address found right after it.
struct EncodingCase {
    const char* name;
    std::string bytes;
    std::string encoding;
    std::string address;
    bool warns;                   // about replaced bytes
    const char* likely = nullptr; // the warning names the encoding the bytes look like
};

void PrintTo(const EncodingCase& c, std::ostream* os) {
    *os << c.name;
}

class CliEncoding : public CliRunTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(CliEncoding, ConvertsBeforeScanning) {
    const EncodingCase& c = GetParam();
    const CliRun r = run(plus(kPlain, {"--encoding", c.encoding, "-"}), c.bytes);
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, (c.bytes.starts_with("From: ") ? tsvRow("sender@example.com") : "") + tsvRow(c.address));
    EXPECT_EQ(r.err.find("U+FFFD") != std::string::npos, c.warns) << r.err;
    EXPECT_EQ(r.err.find(" looks like ") != std::string::npos, c.likely != nullptr) << r.err;
    if (c.likely != nullptr) {
        EXPECT_NE(r.err.find(std::string("looks like ") + c.likely), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err; // one line for the file
        // --quiet silences the warning and changes no status.
        const CliRun quiet = run(plus(kPlain, {"-q", "--encoding", c.encoding, "-"}), c.bytes);
        EXPECT_EQ(quiet.status, cli::kExitOk);
        EXPECT_EQ(quiet.err, "");
    }
}

// Mails whose first 2,048 bytes and more are ASCII headers.
std::string asciiHeaded(const std::string& body) {
    std::string mail = "From: sender@example.com\n";
    while (mail.size() < 2100) {
        mail += "Received: from relay.example.net by mx.example.jp; Mon, 1 Jan 2024 09:00:00 +0900\n";
    }
    return mail + "\n" + body;
}

std::string longSjis() {
    // "日本語のテキストです。" many times, in Shift_JIS, before the address.
    const std::string sentence = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\x82\xc5\x82\xb7\x81"
                                 "\x42";
    std::string out;
    for (int i = 0; i < 40; ++i) {
        out += sentence;
    }
    return out + "\x83\x41" + "bc@d.jp";
}

INSTANTIATE_TEST_SUITE_P(Cli, CliEncoding,
                         ::testing::Values(EncodingCase{"ShiftJIS",
                                                        "\x83\x41"
                                                        "bc@d.jp",
                                                        "shift_jis", "bc@d.jp", false},
                                           EncodingCase{"ShiftJISReadAsUTF8",
                                                        "\x83\x41"
                                                        "bc@d.jp",
                                                        "utf-8", "Abc@d.jp", true, "Shift_JIS"},
                                           EncodingCase{"EucJP",
                                                        "\xa5\xa2"
                                                        "bc@d.jp",
                                                        "euc-jp", "bc@d.jp", false},
                                           EncodingCase{"Cp932Extension",
                                                        "\x87\x40\x87\x40"
                                                        "xy@d.jp",
                                                        "shift_jis", "xy@d.jp", false},
                                           EncodingCase{"Guessed", longSjis(), "guess", "bc@d.jp", false},
                                           // The Shift_JIS window's reading of UTF-8 swallows the "h".
                                           EncodingCase{"Utf8ReadAsShiftJIS",
                                                        "\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xEF\xBC\x9A"
                                                        "hanako@example.jp",
                                                        "shift_jis", "anako@example.jp", true, "UTF-8"},
                                           // ESC ( B read as UTF-8 leaves its "B" before the address.
                                           EncodingCase{"Iso2022JPReadAsUTF8", "\x1B$BO\"Mm@h\x1B(Bab@x.jp", "utf-8",
                                                        "Bab@x.jp", false, "ISO-2022-JP"},
                                           EncodingCase{"AsciiHeadedIso2022JPGuessed",
                                                        asciiHeaded("\x1B$BO\"Mm@h\x1B(Bab@x.jp"), "guess", "ab@x.jp",
                                                        false},
                                           EncodingCase{"AsciiHeadedShiftJISGuessed",
                                                        asciiHeaded("\x83\x7B\x83\x58"
                                                                    "cd@y.jp"),
                                                        "guess", "cd@y.jp", false}));

// --with-source adds the file each address was first found in (standard
// input by its name, the message of an mbox by its number and Message-ID);
// the first file keeps an address found again later.
TEST_F(CliRunTest, TsvWithSourceNamesTheFirstSource) {
    const fs::path a = file("a.txt", "one@a.jp two@b.jp");
    const fs::path c = file("c.mbox", "From x Mon Jan  1 00:00:00 2024\nSubject: 1\n\nfive@e.jp one@a.jp\n"
                                      "From y Mon Jan  1 00:00:00 2024\nMessage-ID: <id@e.jp>\n\nsix@f.jp\n");
    const fs::path b = file("b.txt", "TWO@b.jp three@c.jp");
    const CliRun r = run({"--no-prefs", "--no-sort", "--no-check", "--format", "tsv", "--with-source", a.string(), "-",
                          c.string(), b.string()},
                         "four@d.jp");
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "0\tone@a.jp\ta.jp\t" + a.string() + "\n0\ttwo@b.jp\tb.jp\t" + a.string() +
                         "\n0\tfour@d.jp\td.jp\t(standard input)\n0\tfive@e.jp\te.jp\t" + c.string() +
                         " (message 1)\n0\tid@e.jp\te.jp\t" + c.string() +
                         " (message 2 <id@e.jp>)\n0\tsix@f.jp\tf.jp\t" + c.string() +
                         " (message 2 <id@e.jp>)\n0\tthree@c.jp\tc.jp\t" + b.string() + "\n");
}

TEST_F(CliRunTest, TsvShowsChecksAndTheDomain) {
    file("a.txt", "ok@example.jp bad@example.invalid ok@example.jp");
    const CliRun r = run({"--no-prefs", "--no-sort", "--check", "--format", "tsv", path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    // Defaults remove the repeat; the suspicious ending is checked.
    EXPECT_EQ(r.out, "0\tok@example.jp\texample.jp\n1\tbad@example.invalid\texample.invalid\n");
}

struct LayoutCase {
    const char* name;
    std::vector<std::string> args;
    std::string expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class CliLayout : public CliRunTest, public ::testing::WithParamInterface<LayoutCase> {};

// Addresses are ASCII, so Shift_JIS and UTF-8 output are the same bytes; both
// must hold the layout exactly (carriage returns, no trailing separator).
TEST_P(CliLayout, WritesTheExportBytes) {
    file("a.txt", "aa@a.jp bb@b.jp cc@c.jp dd@d.jp ee@e.jp");
    for (const char* encoding : {"shift_jis", "utf-8"}) {
        const CliRun r = run(
            plus({"--no-prefs", "--no-sort", "--output-encoding", encoding, path("a.txt").string()}, GetParam().args));
        EXPECT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_EQ(r.out, GetParam().expected) << encoding;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliLayout,
    ::testing::Values(
        LayoutCase{"DefaultIsOnePerLine", {}, "aa@a.jp\rbb@b.jp\rcc@c.jp\rdd@d.jp\ree@e.jp\r"},
        LayoutCase{"Line", {"--layout", "line", "--blank-line"}, "aa@a.jp\rbb@b.jp\rcc@c.jp\rdd@d.jp\ree@e.jp\r"},
        LayoutCase{"Comma", {"--layout", "comma"}, "aa@a.jp,bb@b.jp,cc@c.jp,dd@d.jp,ee@e.jp"},
        LayoutCase{"TwoPerLine", {"--layout", "2"}, "aa@a.jp,bb@b.jp\rcc@c.jp,dd@d.jp\ree@e.jp"},
        LayoutCase{
            "TwoPerLineBlank", {"--layout", "2", "--blank-line"}, "aa@a.jp,bb@b.jp\r\rcc@c.jp,dd@d.jp\r\ree@e.jp"},
        LayoutCase{"FivePerLineIsOneLine", {"--layout", "5"}, "aa@a.jp,bb@b.jp,cc@c.jp,dd@d.jp,ee@e.jp"},
        LayoutCase{"LineEndCrIsTheDefault",
                   {"--line-end", "cr", "--layout", "2"},
                   "aa@a.jp,bb@b.jp\rcc@c.jp,dd@d.jp\ree@e.jp"},
        LayoutCase{"LineEndLf", {"--line-end=lf"}, "aa@a.jp\nbb@b.jp\ncc@c.jp\ndd@d.jp\nee@e.jp\n"},
        LayoutCase{"LineEndCrlf", {"--line-end", "CRLF"}, "aa@a.jp\r\nbb@b.jp\r\ncc@c.jp\r\ndd@d.jp\r\nee@e.jp\r\n"},
        LayoutCase{"LineEndCrlfBlank",
                   {"--line-end", "crlf", "--layout", "2", "--blank-line"},
                   "aa@a.jp,bb@b.jp\r\n\r\ncc@c.jp,dd@d.jp\r\n\r\nee@e.jp"},
        LayoutCase{
            "LineEndLfComma", {"--line-end", "lf", "--layout", "comma"}, "aa@a.jp,bb@b.jp,cc@c.jp,dd@d.jp,ee@e.jp"}));

TEST_F(CliRunTest, OutputFileIsWrittenAndTheTerminalOutputLeftEmpty) {
    file("a.txt", "aa@a.jp bb@b.jp");
    file("out.txt", "old content that is longer than the new one");
    const CliRun r = run({"--no-prefs", "--layout", "comma", "-o", path("out.txt").string(), path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(path("out.txt")), "aa@a.jp,bb@b.jp");
}

TEST_F(CliRunTest, OutputGoesWholeThroughANonBlockingPipe) {
    std::string text;
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        const std::string address = "user" + std::to_string(i) + "@example.jp";
        text += address + " ";
        expected += address + "\r";
    }
    file("a.txt", text);
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
    std::string got;
    std::thread reader([&got, fd = fds[0]] {
        char buf[1000];
        ssize_t n = 0;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) {
            got.append(buf, static_cast<std::size_t>(n));
        }
    });
    EXPECT_EQ(runTo(fds[1], {"--no-prefs", "--no-sort", path("a.txt").string()}), cli::kExitOk);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

TEST_F(CliRunTest, AReaderThatGoesAwayEndsTheOutputQuietly) {
    file("a.txt", "aa@a.jp");
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    EXPECT_EQ(runTo(fds[1], {"--no-prefs", path("a.txt").string()}), cli::kExitOk);
    EXPECT_EQ(m_err, "");
    ::close(fds[1]);
    ::sigaction(SIGPIPE, &old, nullptr);
}

TEST_F(CliRunTest, FullDiskOnTheOutputIsAnError) {
    file("a.txt", "aa@a.jp");
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    EXPECT_EQ(runTo(fd, {"--no-prefs", path("a.txt").string()}), cli::kExitPartial);
    EXPECT_NE(m_err.find("cannot write the output: "), std::string::npos) << m_err;
    ::close(fd);
}

TEST_F(CliRunTest, OutputThatCannotBeWrittenIsAnError) {
    file("a.txt", "aa@a.jp");
    const CliRun r = run({"--no-prefs", "-o", path("no/such/folder/out.txt").string(), path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitPartial);
    EXPECT_NE(r.err.find(path("no/such/folder/out.txt").string() + ": "), std::string::npos) << r.err;
}

struct FilterCase {
    const char* name;
    std::string filter;
    std::string action;
    std::string expected;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}

class CliFilter : public CliRunTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(CliFilter, RemovesOrChecksTheMatches) {
    const FilterCase& c = GetParam();
    file("a.txt", "keep@ok.jp Spam@Bad.jp boss@ok.jp xy@spam.jp");
    const CliRun r = run(plus(kPlain, {"--filter", c.filter, "--filter-action", c.action, path("a.txt").string()}));
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliFilter,
                         ::testing::Values(FilterCase{"WholeAddressRemoved", "spam@bad.jp", "remove",
                                                      tsvRow("keep@ok.jp") + tsvRow("boss@ok.jp") +
                                                          tsvRow("xy@spam.jp")},
                                           FilterCase{"WholeAddressChecked", "spam@bad.jp", "check",
                                                      tsvRow("keep@ok.jp") + tsvRow("Spam@Bad.jp", true) +
                                                          tsvRow("boss@ok.jp") + tsvRow("xy@spam.jp")},
                                           FilterCase{"DomainAndAccountRemoved", "***@spam.jp,boss@***", "remove",
                                                      tsvRow("keep@ok.jp") + tsvRow("Spam@Bad.jp")},
                                           FilterCase{"DomainChecked", "***@ok.jp", "check",
                                                      tsvRow("keep@ok.jp", true) + tsvRow("Spam@Bad.jp") +
                                                          tsvRow("boss@ok.jp", true) + tsvRow("xy@spam.jp")},
                                           FilterCase{"EmptyFilterChangesNothing", "", "remove",
                                                      tsvRow("keep@ok.jp") + tsvRow("Spam@Bad.jp") +
                                                          tsvRow("boss@ok.jp") + tsvRow("xy@spam.jp")}));

// ---- Preferences ------------------------------------------------------------------

Settings storedSettings(bool dedupe, std::int32_t layout, std::int32_t n, bool yohaku, const std::string& filter) {
    Settings s;
    s.applyDefaults();
    s.prefN[1] = dedupe ? Settings::kDeleteOn : Settings::kDeleteOff;
    s.prefN[2] = Settings::kSortOff;
    s.prefN[4] = layout;
    s.prefN[5] = n;
    s.needYohaku = yohaku;
    s.filterString = filter;
    s.inList = false;
    return s;
}

TEST_F(CliRunTest, NeverCreatesThePreferencesFile) {
    file("a.txt", "aa@a.jp aa@a.jp");
    fs::create_directories(path("empty-prefs"));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{path("a.txt").string()},
          std::vector<std::string>{"--prefs", path("empty-prefs").string(), path("a.txt").string()},
          std::vector<std::string>{"--prefs", path("absent-prefs").string(), path("a.txt").string()}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_EQ(r.out, "aa@a.jp\r"); // the built-in defaults: duplicates removed, one per line
    }
    EXPECT_FALSE(fs::exists(path("config")));
    EXPECT_FALSE(fs::exists(path("home")));
    EXPECT_FALSE(fs::exists(path("empty-prefs") / PrefStore::kFileName));
    EXPECT_FALSE(fs::exists(path("absent-prefs")));
}

TEST_F(CliRunTest, EmptyPreferencesFileGivesTheDefaultsAndStaysEmpty) {
    file("a.txt", "aa@a.jp aa@a.jp");
    file("config/Quillon/Quillon.prefs", "");
    const CliRun r = run({path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "aa@a.jp\r");
    EXPECT_EQ(fs::file_size(path("config/Quillon/Quillon.prefs")), 0u);
}

TEST_F(CliRunTest, PreferencesAreHonouredAndLeftUnchanged) {
    file("a.txt", "aa@a.jp bb@b.jp aa@a.jp cc@c.jp");
    Settings stored = storedSettings(false, Settings::kLayoutLineComma, 2, true, "***@c.jp");
    PrefStore(path("config/Quillon")).settei(stored);
    const std::string before = readFile(path("config/Quillon/Quillon.prefs"));
    ASSERT_FALSE(before.empty());

    // From $XDG_CONFIG_HOME/Quillon: duplicates kept, two per line with a
    // blank line, the filter removes cc@c.jp.
    CliRun r = run({path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "aa@a.jp,bb@b.jp\r\raa@a.jp");

    // From ~/.config/Quillon when XDG_CONFIG_HOME is not set, and named by
    // --prefs as a folder or as the file; overrides win over the file.
    fs::create_directories(path("home/.config"));
    fs::rename(path("config/Quillon"), path("home/.config/Quillon"));
    m_env.erase("XDG_CONFIG_HOME");
    r = run({path("a.txt").string()});
    EXPECT_EQ(r.out, "aa@a.jp,bb@b.jp\r\raa@a.jp");
    m_env["XDG_CONFIG_HOME"] = "";
    r = run({"--dedupe", "--no-blank-line", path("a.txt").string()});
    EXPECT_EQ(r.out, "aa@a.jp,bb@b.jp");
    r = run({"--prefs", path("home/.config/Quillon").string(), "--filter", "", path("a.txt").string()});
    EXPECT_EQ(r.out, "aa@a.jp,bb@b.jp\r\raa@a.jp,cc@c.jp");
    r = run({"--prefs", path("home/.config/Quillon/Quillon.prefs").string(), "--filter-action", "check", "--format",
             "tsv", path("a.txt").string()});
    EXPECT_EQ(r.out, tsvRow("aa@a.jp") + tsvRow("bb@b.jp") + tsvRow("aa@a.jp") + tsvRow("cc@c.jp", true));
    r = run({"--no-prefs", path("a.txt").string()});
    EXPECT_EQ(r.out, "aa@a.jp\rbb@b.jp\rcc@c.jp\r");

    EXPECT_EQ(readFile(path("home/.config/Quillon/Quillon.prefs")), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(path("home/.config/Quillon")), fs::directory_iterator()), 1);
}

TEST_F(CliRunTest, PrefsNamingAnotherFileIsAUsageError) {
    file("a.txt", "aa@a.jp");
    file("other.prefs", "x");
    const CliRun r = run({"--prefs", path("other.prefs").string(), path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("neither a folder nor a file named Quillon.prefs"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(CliRunTest, UnknownLayoutCodeIsAnErrorEvenWhenQuiet) {
    file("a.txt", "aa@a.jp");
    Settings stored = storedSettings(true, 5, 10, false, "");
    PrefStore(path("config/Quillon")).settei(stored);
    file("out.txt", "kept");
    for (const char* quiet : {"--no-dedupe", "--quiet"}) {
        const CliRun r = run({quiet, "-o", path("out.txt").string(), path("a.txt").string()});
        EXPECT_EQ(r.status, cli::kExitPartial);
        EXPECT_EQ(readFile(path("out.txt")), "kept");
        EXPECT_NE(r.err.find("the export layout code 5 of the preferences is not 4, 6 or 14"), std::string::npos)
            << r.err;
    }
    // --layout repairs it; tsv does not need it.
    EXPECT_EQ(run({"--layout", "line", path("a.txt").string()}).out, "aa@a.jp\r");
    EXPECT_EQ(run({"--format", "tsv", path("a.txt").string()}).out, tsvRow("aa@a.jp"));
}

// A run that could read no input at all leaves an earlier result alone; one
// that read some writes what they gave.
TEST_F(CliRunTest, FailedRunKeepsThePreviousOutput) {
    file("a.txt", "aa@a.jp");
    file("out.txt", "previous");
    fs::create_directory(path("empty"));
    for (const auto& inputs : std::vector<std::vector<std::string>>{{path("missing.txt").string()},
                                                                    {path("missing.txt").string(), "/dev/null"}}) {
        const CliRun r = run(plus({"--no-prefs", "-o", path("out.txt").string()}, inputs));
        EXPECT_EQ(r.status, cli::kExitPartial);
        EXPECT_EQ(readFile(path("out.txt")), "previous");
        EXPECT_NE(r.err.find(path("missing.txt").string() + ": no such file or folder"), std::string::npos) << r.err;
    }
    CliRun r =
        run({"--no-prefs", "-o", path("out.txt").string(), path("missing.txt").string(), path("a.txt").string()});
    EXPECT_EQ(r.status, cli::kExitPartial);
    EXPECT_EQ(readFile(path("out.txt")), "aa@a.jp\r");
    EXPECT_NE(r.err.find(path("missing.txt").string() + ": no such file or folder"), std::string::npos) << r.err;
    // An empty folder is read, and holds nothing.
    r = run({"--no-prefs", "-o", path("out.txt").string(), path("empty").string()});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(readFile(path("out.txt")), "");
}

// Names reach the terminal with their control characters, invisible
// characters and broken bytes escaped, in messages and the progress line.
TEST_F(CliRunTest, HostileNamesAreEscaped) {
    struct Case {
        std::string name;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"title\x1b]0;owned\x07.txt", "title\\x1b]0;owned\\x07.txt"},
        {"two\nquillon-extract: forged", "two\\nquillon-extract: forged"},
        {"cr\rdel\x7f\t", "cr\\rdel\\x7f\\t"},
        {"bad\xff\xc3(.txt", "bad\\xff\\xc3(.txt"},
        {"c1\xc2\x9b"
         "2J \xe2\x80\xae"
         "evil",
         "c1\\u009b2J \\u202eevil"},
        {"back\\slash 日本語.txt", "back\\\\slash 日本語.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        std::ostringstream err;
        cli::RunIo io;
        io.err = &err;
        io.outFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        io.progress = true;
        io.columns = 400;
        io.getenv = [](const char*) -> const char* { return nullptr; };
        file(c.name, "aa@a.jp");
        cli::Options o;
        o.noPrefs = true;
        o.inputs = {path(c.name).string(), path("no-" + c.name).string()};
        EXPECT_EQ(cli::run(o, io), cli::kExitPartial);
        ::close(io.outFd);
        const std::string text = err.str();
        EXPECT_NE(text.find(m_root.string() + "/" + c.shown), std::string::npos) << text;
        EXPECT_NE(text.find(m_root.string() + "/no-" + c.shown + ": no such file or folder\n"), std::string::npos)
            << text;
        // The only controls are those of the progress line and the line ends
        // of the messages.
        std::string rest;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 4, "\r\x1b[K") == 0) {
                i += 3;
            } else if (text.compare(i, 3, "\x1b[K") == 0) {
                i += 2;
            } else {
                rest += text[i];
            }
        }
        for (const char ch : rest) {
            EXPECT_TRUE(ch == '\n' || ch == '\r' || static_cast<unsigned char>(ch) >= 0x20) << int(ch);
            EXPECT_NE(ch, '\x7f');
        }
        EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 1) << rest;
    }
}

TEST_F(CliRunTest, QuietKeepsErrorsButNotWarnings) {
    const CliRun r = run({"--quiet", "--encoding", "utf-8", "--no-prefs", path("missing").string(), "-"}, "\xff");
    EXPECT_EQ(r.status, cli::kExitPartial);
    EXPECT_EQ(r.err, "quillon-extract: " + path("missing").string() + ": no such file or folder\n");
}

TEST_F(CliRunTest, VersionAndHelpGoToTheOutput) {
    EXPECT_EQ(run({"--version"}).out, std::string("quillon-extract ") + QUILLON_VERSION + "\n");
    const CliRun r = run({"--help"});
    EXPECT_EQ(r.status, cli::kExitOk);
    EXPECT_EQ(r.out, cli::helpText());
}

TEST_F(CliRunTest, ProgressLineOnlyOnATerminal) {
    file("a.txt", "aa@a.jp");
    cli::RunIo io;
    std::ostringstream err;
    io.err = &err;
    const int outFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    io.outFd = outFd;
    io.getenv = [](const char*) -> const char* { return nullptr; };
    cli::Options o;
    o.noPrefs = true;
    o.inputs = {path("a.txt").string()};
    io.progress = true;
    EXPECT_EQ(cli::run(o, io), cli::kExitOk);
    // Drawn, then wiped before the run ends.
    EXPECT_NE(err.str().find("\r"), std::string::npos);
    EXPECT_TRUE(err.str().ends_with("\r\x1b[K")) << err.str();
    err.str("");
    o.quiet = true;
    EXPECT_EQ(cli::run(o, io), cli::kExitOk);
    EXPECT_EQ(err.str(), "");
    o.quiet = false;
    io.progress = false;
    EXPECT_EQ(cli::run(o, io), cli::kExitOk);
    EXPECT_EQ(err.str(), "");
    ::close(outFd);
}

TEST(CliPrefFolder, FollowsTheXdgRules) {
    using Env = std::map<std::string, std::string>;
    const auto folder = [](const Env& env) {
        return cli::userPrefFolder([&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_EQ(folder({{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/u"}}), fs::path("/x/cfg/Quillon"));
    EXPECT_EQ(folder({{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}}), fs::path("/home/u/.config/Quillon"));
    EXPECT_EQ(folder({{"HOME", "/home/u"}}), fs::path("/home/u/.config/Quillon"));
    EXPECT_EQ(folder({}), fs::path("/.config/Quillon"));
}

} // namespace
