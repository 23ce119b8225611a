#include "ui/startup.h"

#include <QApplication>
#include <QMainWindow>

#include <cstdio>
#include <cstdlib>

namespace quillon {

namespace {

// Qt aborts with a long message when no display can be reached; say it in one
// line instead.
bool displayAvailable() {
    if (std::getenv("QT_QPA_PLATFORM") != nullptr) {
        return true;
    }
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

} // namespace

int runApplication(int argc, char* argv[]) {
    if (!displayAvailable()) {
        std::fprintf(stderr, "quillon: no display to open the window on (start it inside a desktop session)\n");
        return 1;
    }
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Quillon"));
    window.show();
    return QApplication::exec();
}

} // namespace quillon
