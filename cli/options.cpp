#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
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

// The options that take a value, by their long name.
constexpr std::string_view kValued[] = {"encoding", "prefs",  "filter", "filter-action",
                                        "layout",   "format", "output", "output-encoding"};

bool takesValue(std::string_view name) {
    return std::find(std::begin(kValued), std::end(kValued), name) != std::end(kValued);
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
    } else if (name == "format") {
        const std::string v = normalized(value);
        if (v != "export" && v != "tsv") {
            return shown + ": " + quoted(value) + " is not export or tsv";
        }
        o.format = v == "tsv" ? OutputFormat::Tsv : OutputFormat::Export;
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

std::string_view longNameOf(char shortName) {
    switch (shortName) {
    case 'e':
        return "encoding";
    case 'o':
        return "output";
    case 'q':
        return "quiet";
    case 'h':
        return "help";
    default:
        return {};
    }
}

// The combinations that cannot mean anything.
std::string conflicts(const Options& o, bool outputEncodingGiven) {
    if (o.noPrefs && !o.prefs.empty()) {
        return "--prefs and --no-prefs cannot be used together";
    }
    if (o.format == OutputFormat::Tsv) {
        if (o.layout) {
            return "--layout does not apply to --format tsv";
        }
        if (o.blankLine) {
            return "--blank-line does not apply to --format tsv";
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

} // namespace

ParseResult parseArguments(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    bool outputEncodingGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg.front() != '-') {
            o.inputs.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name;
        std::optional<std::string_view> value;
        if (arg.starts_with("--")) {
            name = arg.substr(2);
            if (const auto eq = name.find('='); eq != std::string_view::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
        } else {
            name = arg.size() == 2 ? longNameOf(arg[1]) : std::string_view();
            if (name.empty()) {
                result.error = "unknown option " + quoted(arg);
                return result;
            }
        }
        if (takesValue(name)) {
            if (!value) {
                if (i + 1 == args.size()) {
                    result.error = "option " + quoted(arg) + " needs a value";
                    return result;
                }
                value = args[++i];
            }
        } else if (value) {
            result.error = "option '--" + std::string(name) + "' takes no value";
            return result;
        }
        result.error = apply(o, name, value.value_or(std::string_view()));
        if (!result.ok()) {
            return result;
        }
        outputEncodingGiven = outputEncodingGiven || name == "output-encoding";
    }
    result.error = conflicts(o, outputEncodingGiven);
    return result;
}

std::string helpText() {
    return R"(Usage: quillon-extract [OPTION]... PATH...
Collects e-mail addresses from text files, folders (walked recursively, hidden
entries skipped) or standard input (-), post-processes them as Quillon does, and
writes them in Quillon's export layouts.

Input:
  -e, --encoding ENC     shift_jis, euc-jp, utf-8, iso-2022-jp, or guess (the
                         default: guessed per source from its first 2,048 bytes)

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
                         bytes of Quillon's export; line ends are CR)
      --format export|tsv
                         export: the layouts above (default); tsv: UTF-8 rows of
                         check (1 or 0), address, domain, tab-separated, LF-ended
  -o, --output FILE      write to FILE (replaced safely) instead of standard output
  -q, --quiet            no progress line and no warnings (errors still shown)
  -h, --help             show this help
      --version          show the version

Exit status: 0 when every input was read, 1 when some input could not be read
or the output could not be written, 2 for a usage error.
)";
}

std::string versionText() {
    return std::string("quillon-extract ") + QUILLON_VERSION + "\n";
}

} // namespace quillon::cli
