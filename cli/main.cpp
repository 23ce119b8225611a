#include "cli/run.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

// quillon-extract: the window's extraction and export from the command line.
int main(int argc, char** argv) {
    // A reader that closes the pipe early ends the output quietly instead of
    // killing the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    quillon::cli::RunIo io;
    io.err = &std::cerr;
    io.progress = ::isatty(STDERR_FILENO) == 1;
    winsize ws{};
    if (io.progress && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        io.columns = ws.ws_col;
    }
    io.getenv = [](const char* name) -> const char* { return std::getenv(name); };
    return quillon::cli::runMain(std::vector<std::string>(argv + 1, argv + argc), io);
}
