#include "ui/startup.h"

#include "ui/App.h"
#include "ui/errorText.h"
#include "ui/mainWindow.h"
#include "ui/services.h"

#include <QFile>

#include <csignal>
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
    // An export into a FIFO whose reader quits fails with EPIPE and is
    // reported, instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    App app(argc, argv);
    mainWindow* window = win::mainWindow();
    app.Open();
    if (!app.prefStore().lastError().empty()) {
        // The cause first: the line is shortened at its end when the window is narrow.
        window->setStatus(QStringLiteral("初期設定ファイルを読み書きできませんでした（%1）。初期値で動作します: %2")
                              .arg(systemErrorText(app.prefStore().lastErrorNumber()),
                                   QFile::decodeName(QByteArray::fromStdString(app.prefStore().filePath().string()))));
    }
    window->show();
    return App::exec();
}

} // namespace quillon
