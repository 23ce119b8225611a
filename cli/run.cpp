#include "cli/run.h"

#include "app/prefStore.h"
#include "cli/terminalText.h"
#include "export/fileWriter.h"
#include "export/listWriter.h"
#include "extract/convModule.h"
#include "extract/searchRun.h"
#include "list/addressBox.h"
#include "list/postSteps.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace quillon::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "quillon-extract";
constexpr const char* kStdinName = "(standard input)";

std::string reasonText(pipeline::ReadError error, const std::string& detail) {
    switch (error) {
    case pipeline::ReadError::NotFound:
        return "no such file or folder";
    case pipeline::ReadError::NotRegular:
        return "not a regular file";
    case pipeline::ReadError::NoPermission:
        return "permission denied";
    case pipeline::ReadError::TooLarge:
        return "too large to read into memory";
    case pipeline::ReadError::Io:
        return "read error: " + detail;
    case pipeline::ReadError::Shortened:
        return "became shorter while it was read";
    case pipeline::ReadError::NotListed:
        return "cannot be listed: " + detail;
    case pipeline::ReadError::None:
    case pipeline::ReadError::Stopped:
        break;
    }
    return "cannot be read";
}

// The value --encoding takes for an encoding.
const char* optionName(Encoding enc) {
    switch (enc) {
    case Encoding::ShiftJIS:
        return "shift_jis";
    case Encoding::EucJP:
        return "euc-jp";
    case Encoding::ISO2022JP:
        return "iso-2022-jp";
    default:
        return "utf-8";
    }
}

// The warning for a source whose bytes do not fit the encoding it was read
// with: the encoding they seem to be in, and how to read them so.
std::string mismatchText(const pipeline::SourceReport& report) {
    const encodingVerdict::Verdict& v = report.verdict;
    std::string text = report.path + ": read as " + convModule::encodingName(report.used);
    if (v.kind == encodingVerdict::Verdict::Kind::Binary) {
        text += ", but it is not text in any of the encodings (binary data?)";
    } else {
        text += ", but it looks like " + std::string(convModule::encodingName(v.likely)) +
                ": addresses may be wrong (try --encoding " + optionName(v.likely) + ")";
    }
    if (report.invalid > 0) {
        text += "; " + std::to_string(report.invalid) + " byte sequences were replaced with U+FFFD";
    }
    return text;
}

std::string megabytes(std::uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return buf;
}

// Columns a UTF-8 lead byte's character takes on a terminal, roughly: the
// wide scripts from U+1100 on count two.
int cellsOf(char32_t c) {
    return c >= 0x1100 ? 2 : 1;
}

// The tail of `text` that fits in `cells` terminal columns, cut at a
// character boundary, with "..." in front when it was cut.
std::string tailThatFits(std::string_view text, int cells) {
    std::vector<std::pair<std::size_t, int>> chars; // start byte, width
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        len = std::min(len, text.size() - i);
        char32_t c = b;
        if (len > 1) {
            c = b & (0x3F >> (len - 1));
            for (std::size_t k = 1; k < len; ++k) {
                c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            }
        }
        chars.emplace_back(i, cellsOf(c));
        i += len;
    }
    int used = 0;
    std::size_t first = chars.size();
    while (first > 0 && used + chars[first - 1].second <= cells) {
        used += chars[--first].second;
    }
    if (first == 0) {
        return std::string(text);
    }
    if (cells < 4) {
        return {}; // no room for "..." and a character
    }
    // Make room for the "...".
    while (first < chars.size() && used + 3 > cells) {
        used -= chars[first++].second;
    }
    return "..." + std::string(text.substr(first < chars.size() ? chars[first].first : text.size()));
}

// Messages and the progress line on standard error. The line is redrawn in
// place at most ten times a second and wiped before any message.
class Reporter {
public:
    Reporter(RunIo& io, bool quiet)
        : m_err(*io.err), m_progress(io.progress && !quiet), m_quiet(quiet), m_columns(std::max(io.columns, 20)) {}

    void error(const std::string& text) {
        wipe();
        m_err << kProgram << ": " << terminalSafe(text) << '\n' << std::flush;
    }
    void warning(const std::string& text) {
        if (!m_quiet) {
            error("warning: " + text);
        }
    }

    void startSource(const std::string& name) {
        if (!m_progress) {
            return;
        }
        m_current = name; // made safe for the terminal when it is drawn
        m_currentDone = 0;
        draw(false);
    }
    void scanned(std::uint64_t bytes) {
        m_currentDone = bytes;
        draw(false);
    }
    void endSource(std::uint64_t bytes) {
        ++m_files;
        m_bytes += bytes;
        m_currentDone = 0;
        draw(false);
    }
    void phase(std::string text) {
        m_current = std::move(text);
        draw(true);
    }
    void wipe() {
        if (m_shown) {
            m_err << "\r\x1b[K" << std::flush;
            m_shown = false;
        }
    }

private:
    void draw(bool force) {
        if (!m_progress) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!force && m_shown && now - m_lastDraw < std::chrono::milliseconds(100)) {
            return;
        }
        m_lastDraw = now;
        std::string line = std::to_string(m_files) + (m_files == 1 ? " file, " : " files, ") +
                           megabytes(m_bytes + m_currentDone) + "  ";
        const int room = m_columns - 1 - static_cast<int>(line.size());
        line += tailThatFits(terminalSafe(m_current), std::max(room, 0));
        m_err << "\r" << line << "\x1b[K" << std::flush;
        m_shown = true;
    }

    std::ostream& m_err;
    const bool m_progress;
    const bool m_quiet;
    const int m_columns;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_lastDraw;
    std::string m_current;
    std::uint64_t m_currentDone = 0;
    std::uint64_t m_files = 0;
    std::uint64_t m_bytes = 0;
};

// Writes every byte, through short writes, interruptions and a descriptor
// left non-blocking by whoever started us. Returns 0 or the errno of the
// failure.
int writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, -1) < 0 && errno != EINTR) {
                    return errno;
                }
                continue;
            }
            return errno;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

// The command-line tool's end of the search road: messages and the progress
// line for each source, the addresses into the list.
class Extraction : public pipeline::SearchSink {
public:
    // `namesSources`: whether the rows name the source they were found in
    // (only the tsv's fourth column shows it).
    Extraction(Reporter& reporter, bool namesSources) : m_reporter(reporter), m_namesSources(namesSources) {
        m_box.Open();
    }

    void sourceStarted(std::size_t, std::size_t, const std::string& path) override {
        m_reporter.startSource(path);
        // The source gets its index with its first address: many files of a
        // large folder hold none, and naming them all would cost a table
        // entry each. (The path lives until the source is finished.)
        m_sourcePath = m_namesSources ? &path : nullptr;
        m_part.clear();
        m_source = 0;
    }
    void partStarted(std::size_t, const std::string& label) override {
        m_part = label;
        m_source = 0;
    }
    void addressFound(std::string_view address, std::size_t) override {
        if (m_source == 0 && m_sourcePath != nullptr) {
            m_source = m_part.empty() ? m_box.sourceIndex(*m_sourcePath)
                                      : m_box.sourceIndex(*m_sourcePath + " (" + m_part + ")");
        }
        m_found.push_back(addressBox::rowFor(address, m_source));
        if (m_found.size() >= kBatch) {
            m_box.AddRows(std::move(m_found));
            m_found.clear();
        }
    }
    void progress(std::int64_t, std::int64_t, std::uint64_t bytes) override { m_reporter.scanned(bytes); }
    void sourceFinished(const pipeline::SourceReport& report) override {
        m_sourcePath = nullptr;
        if (!report.ok() && report.error != pipeline::ReadError::Stopped) {
            ++m_failures;
            m_reporter.error(report.path + ": " + reasonText(report.error, report.detail));
        }
        if (!report.fits()) {
            m_reporter.warning(mismatchText(report));
        } else if (report.invalid > 0) {
            m_reporter.warning(report.path + ": " + std::to_string(report.invalid) + " byte sequences invalid in " +
                               convModule::encodingName(report.used) + " were replaced with U+FFFD (see --encoding)");
        }
        m_reporter.endSource(report.bytes);
    }

    void searchFinished(const pipeline::SearchReport& report) override {
        if (!report.mailParserFailure.empty()) {
            m_reporter.warning("mail read as plain text, its encoded parts not decoded: " + report.mailParserFailure);
        }
        m_box.AddRows(std::move(m_found));
        m_found.clear();
    }

    int failures() const { return m_failures; }
    addressBox& box() { return m_box; }

private:
    static constexpr std::size_t kBatch = 4096;
    Reporter& m_reporter;
    const bool m_namesSources;
    addressBox m_box;
    RowList m_found;
    std::uint32_t m_source = 0;
    const std::string* m_sourcePath = nullptr;
    std::string m_part; // the message of an mbox being read, or empty
    int m_failures = 0;
};

// The rows as tab-separated lines: check, address, domain, and with
// `withSource` the source each was first found in.
std::string tsvText(const RowList& rows, const addressBox& box, bool withSource) {
    std::string out;
    for (const AddressRow& row : rows) {
        out += row.checked ? '1' : '0';
        out += '\t';
        out += row.address();
        out += '\t';
        out += row.domain();
        if (withSource) {
            out += '\t';
            out += box.sourceName(row.source);
        }
        out += '\n';
    }
    return out;
}

void usageError(std::ostream& err, const std::string& message) {
    err << kProgram << ": " << terminalSafe(message) << '\n'
        << "Try '" << kProgram << " --help' for more information.\n";
}

} // namespace

fs::path userPrefFolder(const std::function<const char*(const char*)>& getenv) {
    const char* xdg = getenv ? getenv("XDG_CONFIG_HOME") : nullptr;
    if (xdg != nullptr && *xdg != '\0') {
        return fs::path(xdg) / "Quillon";
    }
    const char* home = getenv ? getenv("HOME") : nullptr;
    const fs::path base = home != nullptr && *home != '\0' ? fs::path(home) : fs::path("/");
    return base / ".config" / "Quillon";
}

bool loadSettings(const Options& o, const std::function<const char*(const char*)>& getenv, Settings& s,
                  std::string& warning, std::string& error) {
    s = Settings();
    if (o.noPrefs) {
        s.applyDefaults();
    } else {
        fs::path folder = o.prefs.empty() ? userPrefFolder(getenv) : fs::path(o.prefs);
        std::error_code ec;
        const fs::file_status given = fs::status(folder, ec);
        if (!o.prefs.empty() && fs::exists(given) && !fs::is_directory(given)) {
            if (folder.filename() != PrefStore::kFileName) {
                error = "--prefs: '" + o.prefs + "' is neither a folder nor a file named " + PrefStore::kFileName;
                return false;
            }
            folder = folder.parent_path();
            if (folder.empty()) {
                folder = ".";
            }
        }
        PrefStore store(folder);
        const fs::path file = store.filePath();
        const fs::file_status st = fs::status(file, ec);
        const std::uintmax_t size = fs::is_regular_file(st) ? fs::file_size(file, ec) : 0;
        if (fs::is_regular_file(st) && size > 0 && !ec) {
            // The file is there: reading it neither creates nor changes anything.
            store.yomikomi(s);
            if (!store.lastError().empty()) {
                warning = "cannot read the preferences (" + store.lastError() + "): using the built-in defaults";
                s = Settings();
                s.applyDefaults();
            }
        } else {
            // What the window's first start would apply, kept in memory only.
            s.applyDefaults();
            if (fs::exists(st) && !fs::is_regular_file(st)) {
                warning = file.string() + " is not a regular file: using the built-in defaults";
            } else if (!o.prefs.empty()) {
                warning = "no preferences in " + file.string() + ": using the built-in defaults";
            }
        }
    }

    if (o.dedupe) {
        s.prefN[1] = *o.dedupe ? Settings::kDeleteOn : Settings::kDeleteOff;
    }
    if (o.sort) {
        s.prefN[2] = *o.sort ? Settings::kSortOn : Settings::kSortOff;
    }
    if (o.check) {
        s.prefN[3] = *o.check ? Settings::kCheckOn : Settings::kCheckOff;
    }
    s.deriveSwitches();
    if (o.filter) {
        s.filterString = *o.filter;
        s.shiwake();
    }
    if (o.filterMarks) {
        s.inList = *o.filterMarks;
    }
    if (o.layout) {
        s.prefN[4] = *o.layout;
    }
    if (o.perLine) {
        s.prefN[5] = *o.perLine;
    }
    if (o.blankLine) {
        s.needYohaku = *o.blankLine;
    }
    return true;
}

int run(const Options& o, RunIo& io) {
    Reporter reporter(io, o.quiet);
    Settings settings;
    std::string warning;
    std::string error;
    if (!loadSettings(o, io.getenv, settings, warning, error)) {
        usageError(*io.err, error);
        return kExitUsage;
    }
    if (!warning.empty()) {
        reporter.warning(warning);
    }
    // A layout the export does not know would write nothing: that is an
    // error, said before any work.
    const std::int32_t layout = settings.prefN[4];
    if (o.format != OutputFormat::Tsv && layout != Settings::kLayoutLine && layout != Settings::kLayoutComma &&
        layout != Settings::kLayoutLineComma) {
        reporter.error("the export layout code " + std::to_string(layout) +
                       " of the preferences is not 4, 6 or 14: nothing written (see --layout)");
        return kExitPartial;
    }

    Extraction extraction(reporter, o.format == OutputFormat::Tsv && o.withSource);
    std::vector<pipeline::Source> sources;
    for (const std::string& input : o.inputs) {
        sources.push_back(input == "-" ? pipeline::Source::standardInput(io.inFd, kStdinName)
                                       : pipeline::Source::file(input));
    }
    pipeline::SearchOptions options;
    options.encoding = o.encoding;
    options.readNamedPipes = true;
    options.samples = false;
    const pipeline::SearchReport searched = pipeline::runSearch(sources, options, extraction);
    int status = extraction.failures() > 0 ? kExitPartial : kExitOk;

    RowList rows = extraction.box().takeRows();
    reporter.phase("post-processing " + std::to_string(rows.size()) + " addresses");
    postSteps::postProcess(rows, settings, false, extraction.box().correctAdd);
    reporter.wipe();

    std::string bytes;
    if (o.format == OutputFormat::Tsv) {
        bytes = tsvText(rows, extraction.box(), o.withSource);
    } else {
        std::optional<std::string> text =
            listWriter::buildExportText(rows, settings.prefN[4], settings.prefN[5], settings.needYohaku, o.lineEnd);
        RowList().swap(rows); // the rows' memory is free for the conversion below
        if (text && o.utf8Output) {
            bytes = std::move(*text);
        } else if (text) {
            convModule::SjisResult sjis = convModule::convToSJIS(*text);
            std::string().swap(*text);
            if (sjis.replaced > 0) {
                reporter.warning(std::to_string(sjis.replaced) +
                                 " characters have no Shift_JIS form and were written as '?'");
            }
            bytes = std::move(sjis.bytes);
        }
    }
    RowList().swap(rows);

    if (o.output.empty() || o.output == "-") {
        const int err = writeAll(io.outFd, bytes);
        // A reader that went away (a pipe into head) is not an error of ours.
        if (err != 0 && err != EPIPE) {
            reporter.error(std::string("cannot write the output: ") + std::strerror(err));
            status = kExitPartial;
        }
    } else if (searched.failed > 0 && searched.read == 0) {
        // Nothing could be read: the result of an earlier run stays.
        reporter.error(o.output + ": not written, since no input could be read");
    } else {
        const WriteResult written = writeFileSafely(o.output, bytes);
        if (!written.ok) {
            reporter.error(o.output + ": " + written.error);
            status = kExitPartial;
        }
    }
    return status;
}

int runMain(const std::vector<std::string>& args, RunIo& io) {
    const ParseResult parsed = parseArguments(args);
    if (!parsed.ok()) {
        usageError(*io.err, parsed.error);
        return kExitUsage;
    }
    if (parsed.options.help || parsed.options.version) {
        const std::string text = parsed.options.help ? helpText() : versionText();
        return writeAll(io.outFd, text) == 0 ? kExitOk : kExitPartial;
    }
    return run(parsed.options, io);
}

} // namespace quillon::cli
