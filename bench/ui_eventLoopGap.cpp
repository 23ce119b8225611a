// Measures how long the window's event loop is kept from running while a real
// extraction runs: a 200 MB text with a million addresses (30% of them
// repeated in another letter case) is searched in the main window on the
// offscreen platform, with every post-processing step on. A timer ticks every
// millisecond; the longest gap between two ticks is the longest freeze a user
// would see.
//
// Usage: ui_eventLoopGap [megabytes]   (default 200)
// With QUILLON_GAPS set in the environment, every gap over 50 ms is listed
// with the status text shown at that moment.

#include "ui/App.h"
#include "ui/mainWindow.h"
#include "ui/services.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

class NoDialogs : public quillon::Services {
public:
    QString openFileName(QWidget*) override { return {}; }
    QString saveFileName(QWidget*, const QString&) override { return {}; }
    void message(QWidget*, const QString&) override {}
    void warning(QWidget*, const QString&, const QString&) override {}
    int runDialog(QDialog* d) override {
        d->reject();
        return 0;
    }
    QString clipboardText(bool* hasText) override {
        *hasText = false;
        return {};
    }
};

QByteArray makeText(qint64 bytes) {
    std::mt19937 rng(42);
    const char* words[] = {"the ", "quick ", "brown ", "fox ", "jumps ", "over ", "lazy ", "dog ", "and ", "then "};
    const char* tlds[] = {"com", "jp", "net", "org", "co.uk", "info", "example"};
    QByteArray text;
    text.reserve(bytes + 256);
    const qint64 addresses = 1000000;
    const qint64 every = std::max<qint64>(bytes / addresses, 40);
    qint64 next = every;
    std::vector<QByteArray> earlier;
    while (text.size() < bytes) {
        text += words[rng() % 10];
        if (text.size() >= next) {
            next += every;
            // 30% repeat an earlier address in upper case.
            if (!earlier.empty() && rng() % 10 < 3) {
                text += earlier[rng() % earlier.size()].toUpper() + " ";
            } else {
                earlier.push_back("user" + QByteArray::number(static_cast<int>(earlier.size())) + "@host" +
                                  QByteArray::number(static_cast<int>(rng() % 500)) + "." + tlds[rng() % 7]);
                text += earlier.back() + " ";
            }
        }
        if (rng() % 12 == 0) {
            text += "\n";
        }
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    QTemporaryDir dir;
    quillon::App app(argc, argv, dir.filePath(QStringLiteral("prefs")).toStdString());
    app.Open();
    app.filterString = "user1@host1.com,***@host2.jp,user3@***";
    app.shiwake();

    const QString path = dir.filePath(QStringLiteral("big.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(makeText(megabytes << 20)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    NoDialogs services;
    quillon::mainWindow w(&services);
    w.show();

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QString status;
    QObject::connect(&w, &quillon::mainWindow::statusChanged, [&](const QString& text) { status = text; });
    const bool verbose = qEnvironmentVariableIsSet("QUILLON_GAPS");
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (verbose && now - last > 50) {
            std::printf("gap of %lld ms ending at %.2f s, during \"%s\"\n", static_cast<long long>(now - last),
                        static_cast<double>(now) / 1000.0, qPrintable(status));
        }
        longest = std::max(longest, now - last);
        last = now;
    });
    QSignalSpy idle(&w, &quillon::mainWindow::jobsIdle);
    clock.start();
    ticker.start();
    w.openFile(path);
    idle.wait(30 * 60 * 1000);
    const qint64 total = clock.elapsed();
    std::printf("text: %lld MB, rows: %lld, total: %.2f s, longest event-loop gap: %lld ms\n",
                static_cast<long long>(megabytes), static_cast<long long>(w.AddressBox1.ListCount()),
                static_cast<double>(total) / 1000.0, static_cast<long long>(longest));
    return 0;
}
