#pragma once

#include "app/settings.h"
#include "cli/options.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quillon::cli {

// Exit statuses of quillon-extract.
inline constexpr int kExitOk = 0;      // every input was read and the output written
inline constexpr int kExitPartial = 1; // some input could not be read, or the output not written
inline constexpr int kExitUsage = 2;   // bad arguments

// Where a run reads and writes; main() fills it from the process, tests from
// pipes, temporary files and string streams.
struct RunIo {
    int inFd = 0;                // read for the input "-"
    int outFd = 1;               // the output when no --output is given
    std::ostream* err = nullptr; // messages and the progress line
    bool progress = false;       // draw the progress line (err is a terminal)
    int columns = 80;            // the width of that terminal
    // The environment, for the user's preferences folder (returns nullptr for
    // an unset variable).
    std::function<const char*(const char*)> getenv;
};

// The folder the window keeps "Quillon.prefs" in: $XDG_CONFIG_HOME/Quillon
// when that variable is set and not empty, otherwise $HOME/.config/Quillon
// ("/" standing in for an unset home).
std::filesystem::path userPrefFolder(const std::function<const char*(const char*)>& getenv);

// The settings a run uses: the preferences file (read only, never created or
// written; a missing or empty file gives the built-in defaults, like the
// window's first start) or the built-in defaults with --no-prefs, then the
// overrides of the command line. Warnings (a preferences file that cannot be
// read) go to `warning`; a --prefs that names something other than a folder
// or a preferences file makes it return false with the reason in `error`.
bool loadSettings(const Options& o, const std::function<const char*(const char*)>& getenv, Settings& s,
                  std::string& warning, std::string& error);

// One whole run over parsed options: reads every input in order, runs the
// window's post-processing once over all addresses, writes the result.
// Returns the exit status.
int run(const Options& o, RunIo& io);

// Parses the arguments after the program name, then answers --help and
// --version or runs. Usage errors are reported on io.err with a hint to
// --help and return kExitUsage.
int runMain(const std::vector<std::string>& args, RunIo& io);

} // namespace quillon::cli
