// Takes the README's picture of the main window: searches a small Japanese
// text for its addresses and saves the window, once idle, as a PNG.
// Usage: quillon-screenshot OUTPUT.png   (see packaging/take-screenshot.sh)

#include "ui/App.h"
#include "ui/mainWindow.h"

#include <QEventLoop>
#include <QFile>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// A note with addresses in running Japanese text: a repeat in other letter
// case (removed), several domains (sorted) and one domain with an ending the
// list does not accept (highlighted).
constexpr const char* kSample = "お問い合わせ窓口のご案内\n"
                                "営業部 山田 <yamada@example.co.jp>、サポート support@example.com まで。\n"
                                "採用担当：recruit@example.jp（平日のみ）\n"
                                "広報 press@example.org / 経理 keiri@example.ne.jp\n"
                                "旧アドレス YAMADA@EXAMPLE.CO.JP は使えません。\n"
                                "海外拠点 office@example.net、テスト用 test@example.xyz\n"
                                "イベント事務局 event-2024@example.or.jp、info@example.info\n";

bool waitIdle(quillon::mainWindow& window) {
    if (!window.jobRunning()) {
        return true;
    }
    QEventLoop loop;
    QObject::connect(&window, &quillon::mainWindow::jobsIdle, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon-screenshot OUTPUT.png\n");
        return 2;
    }
    QTemporaryDir work;
    quillon::App app(argc, argv, work.filePath(QStringLiteral("prefs")).toStdString());
    app.Open();

    const QString sample = work.filePath(QStringLiteral("お問い合わせ.txt"));
    QFile file(sample);
    if (!file.open(QIODevice::WriteOnly) || file.write(kSample) < 0) {
        std::fprintf(stderr, "quillon-screenshot: cannot write the sample text\n");
        return 1;
    }
    file.close();

    quillon::mainWindow* window = quillon::win::mainWindow();
    window->show();
    window->encButton[2]->click(); // the sample is UTF-8
    window->openFile(sample);
    if (!waitIdle(*window)) {
        std::fprintf(stderr, "quillon-screenshot: the search did not end\n");
        return 1;
    }
    // Let the list and the status line repaint before the picture.
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();

    if (!window->grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "quillon-screenshot: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
