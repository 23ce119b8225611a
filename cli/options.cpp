#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <getopt.h>
#include <limits>
#include <mutex>
#include <string_view>

namespace quillon::cli {

namespace {

// Lower case with "_" taken as "-", so that shift_jis, Shift-JIS and SHIFT_JIS
// are the same name.
std::string normalized(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<Encoding> encodingNamed(std::string_view name) {
    const std::string n = normalized(name);
    if (n == "shift-jis" || n == "sjis" || n == "cp932") {
        return Encoding::ShiftJIS;
    }
    if (n == "euc-jp") {
        return Encoding::EucJP;
    }
    if (n == "utf-8" || n == "utf8") {
        return Encoding::UTF8;
    }
    if (n == "iso-2022-jp") {
        return Encoding::ISO2022JP;
    }
    if (n == "guess") {
        return Encoding::None;
    }
    return std::nullopt;
}

std::optional<std::int32_t> positiveNumber(std::string_view text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 1) {
        return std::nullopt;
    }
    return value;
}

std::string quoted(std::string_view text) {
    // Appended piece by piece: "'" + std::string trips a false -Wrestrict of GCC 12 at -O3.
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    out += text;
    out += '\'';
    return out;
}

// Applies one option; returns the error text, empty when it was good.
std::string apply(Options& o, std::string_view name, std::string_view value) {
    std::string shown = "--";
    shown += name;
    if (name == "encoding") {
        const auto enc = encodingNamed(value);
        if (!enc) {
            return shown + ": unknown encoding " + quoted(value) +
                   " (use shift_jis, euc-jp, utf-8, iso-2022-jp or guess)";
        }
        o.encoding = *enc;
    } else if (name == "prefs") {
        if (value.empty()) {
            return shown + " needs a folder or a preferences file";
        }
        o.prefs = value;
    } else if (name == "no-prefs") {
        o.noPrefs = true;
    } else if (name == "dedupe" || name == "no-dedupe") {
        o.dedupe = name == "dedupe";
    } else if (name == "sort" || name == "no-sort") {
        o.sort = name == "sort";
    } else if (name == "check" || name == "no-check") {
        o.check = name == "check";
    } else if (name == "filter") {
        o.filter = std::string(value);
    } else if (name == "filter-action") {
        const std::string v = normalized(value);
        if (v != "remove" && v != "check") {
            return shown + ": " + quoted(value) + " is not remove or check";
        }
        o.filterMarks = v == "check";
    } else if (name == "layout") {
        const std::string v = normalized(value);
        if (v == "line") {
            o.layout = Settings::kLayoutLine;
        } else if (v == "comma") {
            o.layout = Settings::kLayoutComma;
        } else if (const auto n = positiveNumber(value)) {
            o.layout = Settings::kLayoutLineComma;
            o.perLine = *n;
        } else {
            return shown + ": " + quoted(value) + " is not line, comma or a number of addresses per line (1 or more)";
        }
    } else if (name == "blank-line" || name == "no-blank-line") {
        o.blankLine = name == "blank-line";
    } else if (name == "line-end") {
        const std::string v = normalized(value);
        if (v == "cr") {
            o.lineEnd = "\r";
        } else if (v == "lf") {
            o.lineEnd = "\n";
        } else if (v == "crlf") {
            o.lineEnd = "\r\n";
        } else {
            return shown + ": " + quoted(value) + " is not cr, lf or crlf";
        }
    } else if (name == "format") {
        const std::string v = normalized(value);
        if (v != "export" && v != "tsv") {
            return shown + ": " + quoted(value) + " is not export or tsv";
        }
        o.format = v == "tsv" ? OutputFormat::Tsv : OutputFormat::Export;
    } else if (name == "with-source") {
        o.withSource = true;
    } else if (name == "output") {
        if (value.empty()) {
            return shown + " needs a file name";
        }
        o.output = value;
    } else if (name == "output-encoding") {
        const auto enc = encodingNamed(value);
        if (enc != Encoding::ShiftJIS && enc != Encoding::UTF8) {
            return shown + ": " + quoted(value) + " is not shift_jis or utf-8";
        }
        o.utf8Output = enc == Encoding::UTF8;
    } else if (name == "quiet") {
        o.quiet = true;
    } else if (name == "help") {
        o.help = true;
    } else if (name == "version") {
        o.version = true;
    } else {
        return "unknown option " + quoted(shown);
    }
    return {};
}

// The combinations that cannot mean anything.
std::string conflicts(const Options& o, bool outputEncodingGiven, bool lineEndGiven) {
    if (o.noPrefs && !o.prefs.empty()) {
        return "--prefs and --no-prefs cannot be used together";
    }
    if (o.withSource && o.format != OutputFormat::Tsv) {
        return "--with-source applies to --format tsv only";
    }
    if (o.format == OutputFormat::Tsv) {
        if (o.layout) {
            return "--layout does not apply to --format tsv";
        }
        if (o.blankLine) {
            return "--blank-line does not apply to --format tsv";
        }
        if (lineEndGiven) {
            return "--line-end does not apply to --format tsv (always LF)";
        }
        if (outputEncodingGiven) {
            return "--output-encoding does not apply to --format tsv (always UTF-8)";
        }
    }
    if (!o.help && !o.version && o.inputs.empty()) {
        return "no input given (name files, folders, or - for standard input)";
    }
    return {};
}

// The options, for getopt_long. The value of an option with a short form is
// that letter; the others count up from kLongOnly. The long names are what
// apply() and the messages use.
constexpr int kLongOnly = 256;
constexpr option kOptions[] = {
    {"encoding", required_argument, nullptr, 'e'},
    {"prefs", required_argument, nullptr, kLongOnly + 0},
    {"no-prefs", no_argument, nullptr, kLongOnly + 1},
    {"dedupe", no_argument, nullptr, kLongOnly + 2},
    {"no-dedupe", no_argument, nullptr, kLongOnly + 3},
    {"sort", no_argument, nullptr, kLongOnly + 4},
    {"no-sort", no_argument, nullptr, kLongOnly + 5},
    {"check", no_argument, nullptr, kLongOnly + 6},
    {"no-check", no_argument, nullptr, kLongOnly + 7},
    {"filter", required_argument, nullptr, kLongOnly + 8},
    {"filter-action", required_argument, nullptr, kLongOnly + 9},
    {"layout", required_argument, nullptr, kLongOnly + 10},
    {"blank-line", no_argument, nullptr, kLongOnly + 11},
    {"no-blank-line", no_argument, nullptr, kLongOnly + 12},
    {"line-end", required_argument, nullptr, kLongOnly + 13},
    {"format", required_argument, nullptr, kLongOnly + 14},
    {"output", required_argument, nullptr, 'o'},
    {"output-encoding", required_argument, nullptr, kLongOnly + 15},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kLongOnly + 16},
    {"with-source", no_argument, nullptr, kLongOnly + 17},
    {nullptr, 0, nullptr, 0},
};
// "-": paths come back in their place among the options (as value 1); ":":
// getopt_long prints nothing and tells a missing value apart.
constexpr char kShortOptions[] = "-:e:o:qh";

const option* optionWithValue(int value) {
    for (const option* o = kOptions; o->name != nullptr; ++o) {
        if (o->val == value) {
            return o;
        }
    }
    return nullptr;
}

// The long options that the name given on the command line (without "--" and
// "=value") is a prefix of; the exact name alone when it is one.
std::vector<std::string_view> longOptionsMatching(std::string_view given) {
    std::vector<std::string_view> matches;
    for (const option* o = kOptions; o->name != nullptr; ++o) {
        const std::string_view name = o->name;
        if (name == given) {
            return {name};
        }
        if (name.starts_with(given)) {
            matches.push_back(name);
        }
    }
    return matches;
}

// The message for an option getopt_long refused: `code` is what it returned,
// `optionValue` its optopt and `lastArg` the argument it stepped over last
// (the one that held a long option; for a short one, see below).
std::string refusal(int code, int optionValue, std::string_view lastArg) {
    const option* known = optionWithValue(optionValue);
    if (code == ':') {
        // A value is missing, so the option ended the arguments: the last one
        // holds it, alone or at the end of a bundle (-qe).
        const std::string shown = lastArg.starts_with("--") && known != nullptr
                                      ? std::string("--") + known->name
                                      : std::string("-") + static_cast<char>(optionValue);
        return "option " + quoted(shown) + " needs a value";
    }
    // A known option refused with '?' was given a value it does not take
    // (--quiet=yes): the letters of the short forms never fail that way.
    if (known != nullptr) {
        return "option '--" + std::string(known->name) + "' takes no value";
    }
    if (optionValue != 0) {
        return "unknown option " + quoted(std::string("-") + static_cast<char>(optionValue));
    }
    std::string_view given = lastArg.substr(2);
    given = given.substr(0, given.find('='));
    const std::vector<std::string_view> matches = longOptionsMatching(given);
    std::string shown = "--";
    shown += given;
    if (given.empty() || matches.size() < 2) {
        return "unknown option " + quoted(shown);
    }
    std::string message = "option " + quoted(shown) + " is ambiguous (";
    for (std::size_t i = 0; i < matches.size(); ++i) {
        message += i == 0 ? "--" : ", --";
        message += matches[i];
    }
    return message + ")";
}

} // namespace

ParseResult parseArguments(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    bool outputEncodingGiven = false;
    bool lineEndGiven = false;

    // getopt_long keeps its place in globals: one parse at a time, each from
    // a full restart (optind 0 makes glibc forget the last one entirely).
    static std::mutex parsing;
    const std::lock_guard<std::mutex> lock(parsing);
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.emplace_back("quillon-extract");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());
    optind = 0;
    opterr = 0;

    int code = 0;
    while ((code = getopt_long(argc, argv.data(), kShortOptions, kOptions, nullptr)) != -1) {
        if (code == 1) {
            o.inputs.emplace_back(optarg);
            continue;
        }
        if (code == '?' || code == ':') {
            result.error =
                refusal(code, optopt, storage[static_cast<std::size_t>(std::clamp(optind - 1, 1, argc - 1))]);
            return result;
        }
        const option* given = optionWithValue(code);
        result.error = apply(o, given->name, optarg != nullptr ? std::string_view(optarg) : std::string_view());
        if (!result.ok()) {
            return result;
        }
        outputEncodingGiven = outputEncodingGiven || code == kLongOnly + 15;
        lineEndGiven = lineEndGiven || code == kLongOnly + 13;
    }
    // After "--": everything left is a path.
    for (int i = optind; i < argc; ++i) {
        o.inputs.push_back(storage[static_cast<std::size_t>(i)]);
    }
    result.error = conflicts(o, outputEncodingGiven, lineEndGiven);
    return result;
}

std::string helpText() {
    return R"(Usage: quillon-extract [OPTION]... PATH...
Collects e-mail addresses from text files, folders (walked recursively, hidden
entries skipped) or standard input (-), post-processes them as Quillon does, and
writes them in Quillon's export layouts. Saved mail (.eml and Maildir files,
mbox archives) is read as a mail reader shows it: header lines, and text parts
with base64 and quoted-printable undone and their charsets converted (the
encoding below only for parts that name none); attachments that are not text
are skipped.

Input:
  -e, --encoding ENC     shift_jis, euc-jp, utf-8, iso-2022-jp, or guess (the
                         default: guessed per source from its whole text; a
                         warning names each file whose bytes do not fit the
                         encoding it was read with, and the encoding it seems
                         to be in)

Post-processing (default: as set in Quillon's preferences):
      --prefs PATH       the folder that holds Quillon.prefs, or that file
                         (default: $XDG_CONFIG_HOME/Quillon or ~/.config/Quillon);
                         the file is only read, never written
      --no-prefs         use the built-in defaults instead of the preferences
      --dedupe, --no-dedupe   remove repeated addresses (letter case ignored)
      --sort, --no-sort       sort by domain
      --check, --no-check     check addresses with a suspicious domain
      --filter TEXT      the filter: comma-separated addresses, ***@domain and
                         account@*** entries ("" for none)
      --filter-action remove|check
                         remove the matching rows, or check them

Output:
      --layout line|comma|N
                         one address per line, all on one comma-separated line,
                         or N per comma-separated line (default: the preferences)
      --blank-line, --no-blank-line
                         an empty line after each line of the N-per-line layout
      --output-encoding shift_jis|utf-8
                         the encoding of the layouts (default shift_jis, the
                         bytes of Quillon's export)
      --line-end cr|lf|crlf
                         the line end of the layouts (default cr, as Quillon
                         exports; lf for wc, grep and most Linux tools)
      --format export|tsv
                         export: the layouts above (default); tsv: UTF-8 rows of
                         check (1 or 0), address, domain, tab-separated, LF-ended
      --with-source      tsv: a fourth column, the file each address was first
                         found in; standard input is named (standard input)
  -o, --output FILE      write to FILE (replaced safely, keeping its owner,
                         group and mode) instead of standard output
  -q, --quiet            no progress line and no warnings (errors still shown)
  -h, --help             show this help
      --version          show the version

Exit status:
  0  every input was read and the output written
  1  some input could not be read (when none could, the FILE of --output is
     left as it was), the stored export layout is unknown, or the output
     could not be written
  2  a usage error
)";
}

std::string versionText() {
    return std::string("quillon-extract ") + QUILLON_VERSION + "\n";
}

} // namespace quillon::cli
