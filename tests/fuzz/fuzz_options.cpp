// The command-line options of quillon-extract on any argument list (the
// input split at its zero bytes): the two spellings of an option with a value
// ("--name=value" and "--name value") mean the same, whatever follows "--" is
// an input, and a usage error reaches the terminal with no control character.
#include "cli/options.h"
#include "cli/run.h"
#include "fuzzCheck.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace cli = quillon::cli;

bool sameOptions(const cli::Options& a, const cli::Options& b) {
    return a.inputs == b.inputs && a.encoding == b.encoding && a.noPrefs == b.noPrefs && a.prefs == b.prefs &&
           a.dedupe == b.dedupe && a.sort == b.sort && a.check == b.check && a.filter == b.filter &&
           a.filterMarks == b.filterMarks && a.layout == b.layout && a.perLine == b.perLine &&
           a.blankLine == b.blankLine && a.format == b.format && a.withSource == b.withSource &&
           a.utf8Output == b.utf8Output && a.output == b.output && a.quiet == b.quiet && a.help == b.help &&
           a.version == b.version;
}

bool takesValue(std::string_view name) {
    for (const std::string_view valued : {"--encoding", "--prefs", "--filter", "--filter-action", "--layout",
                                          "--format", "--output", "--output-encoding"}) {
        if (name == valued) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1024) {
        return 0;
    }
    std::vector<std::string> args;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t zero = std::min(text.find('\0', from), text.size());
        args.emplace_back(text.substr(from, zero - from));
        from = zero + 1;
    }

    const cli::ParseResult parsed = cli::parseArguments(args);
    FUZZ_CHECK(parsed.ok() == parsed.error.empty());

    // Every "--name=value" of an option that takes a value, spread over two
    // arguments; only where it cannot be the value of the argument before it
    // (which then does not start with "-").
    std::vector<std::string> spread;
    bool ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.find('=');
        const bool optionPlace = i == 0 || args[i - 1] == "-" || !args[i - 1].starts_with('-');
        if (!ended && optionPlace && arg.starts_with("--") && eq != std::string::npos &&
            takesValue(arg.substr(0, eq))) {
            spread.push_back(arg.substr(0, eq));
            spread.push_back(arg.substr(eq + 1));
        } else {
            spread.push_back(arg);
        }
        ended = ended || arg == "--";
    }
    const cli::ParseResult twoArgs = cli::parseArguments(spread);
    FUZZ_CHECK(twoArgs.ok() == parsed.ok());
    FUZZ_CHECK(!parsed.ok() || sameOptions(parsed.options, twoArgs.options));

    // After "--" every argument is an input.
    std::vector<std::string> literal{"--"};
    literal.insert(literal.end(), args.begin(), args.end());
    const cli::ParseResult inputs = cli::parseArguments(literal);
    FUZZ_CHECK(inputs.ok());
    FUZZ_CHECK(inputs.options.inputs == args);

    // What the tool prints for a usage error, --help or --version.
    if (!parsed.ok() || parsed.options.help || parsed.options.version) {
        static const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        std::ostringstream err;
        cli::RunIo io;
        io.err = &err;
        io.outFd = devNull;
        io.inFd = -1;
        io.getenv = [](const char*) -> const char* { return nullptr; };
        const int status = cli::runMain(args, io);
        FUZZ_CHECK(parsed.ok() ? status == cli::kExitOk : status == cli::kExitUsage);
        for (const char c : err.str()) {
            const auto b = static_cast<unsigned char>(c);
            FUZZ_CHECK(c == '\n' || (b >= 0x20 && b != 0x7F));
        }
    }
    return 0;
}
