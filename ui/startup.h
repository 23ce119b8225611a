#pragma once

namespace quillon {

// Starts the application: checks for a display, creates the application
// object and the main window, runs the event loop. Returns the exit status.
int runApplication(int argc, char* argv[]);

} // namespace quillon
