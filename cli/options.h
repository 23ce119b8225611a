#pragma once

#include "app/settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon::cli {

// What quillon-extract writes: the export layouts, or tab-separated rows.
enum class OutputFormat { Export, Tsv };

// The command line of quillon-extract, parsed. Every setting that can come
// from the preferences file is optional here: unset means "as the
// preferences say".
struct Options {
    std::vector<std::string> inputs;    // files and folders in the order given; "-" is standard input
    Encoding encoding = Encoding::None; // None: guessed per source

    bool noPrefs = false; // the built-in defaults instead of the preferences file
    std::string prefs;    // the folder that holds "Quillon.prefs" (or that file); empty: the user's folder
    std::optional<bool> dedupe;
    std::optional<bool> sort;
    std::optional<bool> check;
    std::optional<std::string> filter;   // the filter text, split as the preferences window splits it
    std::optional<bool> filterMarks;     // true: check the matching rows; false: remove them
    std::optional<std::int32_t> layout;  // export layout code 4, 6 or 14
    std::optional<std::int32_t> perLine; // n of layout 14
    std::optional<bool> blankLine;       // needYohaku
    std::string lineEnd = "\r";          // the line end of the export layouts: CR (as the window writes), LF or CRLF

    OutputFormat format = OutputFormat::Export;
    bool withSource = false; // tsv: the source each row was first found in, as a fourth column
    bool utf8Output = false; // the export layouts in UTF-8 instead of Shift_JIS
    std::string output;      // empty: standard output
    bool quiet = false;

    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error; // one line, without the program name; empty when the arguments are good
    bool ok() const { return error.empty(); }
};

// Parses the arguments that follow the program name, as getopt_long does:
// options and paths may be mixed and "--" ends the options; short options
// may be bundled (-qe utf-8) and take their value attached (-eutf-8) or as
// the next argument; a long option may be shortened to any unambiguous
// prefix (--enc) and takes its value after "=" or as the next argument.
ParseResult parseArguments(const std::vector<std::string>& args);

// The text of --help and of --version, each ending in a line end.
std::string helpText();
std::string versionText();

} // namespace quillon::cli
