#include "ui/aboutWindow.h"

#include "ui/App.h"
#include "ui/controls.h"
#include "ui/mainWindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPointer>

namespace quillon {

aboutWindow::aboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("Quillonについて"));
    setAttribute(Qt::WA_DeleteOnClose);
    const double scale = logicalDpiY() / 72.0;
    auto pt = [scale](int v) { return qRound(v * scale); };
    resize(pt(316), pt(206));
    setMinimumSize(64, 64);
    setMaximumSize(32000, 32000);

    StaticText1 = new QLabel(QStringLiteral("Quillon"), this);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setGeometry(pt(20), pt(14), pt(276), pt(20));
    StaticText1->setFont(japaneseFont(18));
    StaticText1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    StaticText2 = new QLabel(
        QStringLiteral("テキストファイル中の電子メールアドレスを抽出しリストアップ、書き出すアプリケーションです。"),
        this);
    StaticText2->setObjectName(QStringLiteral("StaticText2"));
    StaticText2->setGeometry(pt(20), pt(46), pt(276), pt(79));
    StaticText2->setFont(japaneseFont(14));
    StaticText2->setWordWrap(true);
    StaticText2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    StaticText5 = new QLabel(QStringLiteral("Version 1.1.2"), this);
    StaticText5->setObjectName(QStringLiteral("StaticText5"));
    StaticText5->setGeometry(pt(196), pt(113), pt(100), pt(20));
    StaticText5->setFont(japaneseFont(10));
    StaticText5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StaticText5_Open();

    // The application icon in the free corner under the description.
    auto* appIcon = new QLabel(this);
    appIcon->setObjectName(QStringLiteral("appIcon"));
    appIcon->setGeometry(pt(20), pt(138), pt(48), pt(48));
    appIcon->setPixmap(QApplication::windowIcon().pixmap(QSize(pt(48), pt(48))));
    appIcon->setAccessibleName(QStringLiteral("Quillonのアイコン"));

    // Who holds the copyright and under which licence, beside the icon.
    auto* licenseText = new QLabel(QStringLiteral("© 2026 The Quillon developers\nMITライセンス"), this);
    licenseText->setObjectName(QStringLiteral("licenseText"));
    licenseText->setGeometry(pt(76), pt(142), pt(220), pt(40));
    licenseText->setFont(japaneseFont(10));
    licenseText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // "閉じる" (Ctrl+W) closes this window while it is in front.
    auto* closeitem = new QAction(QStringLiteral("閉じる"), this);
    closeitem->setObjectName(QStringLiteral("closeitem"));
    closeitem->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    closeitem->setShortcutContext(Qt::WindowShortcut);
    addAction(closeitem);
    connect(closeitem, &QAction::triggered, this, &aboutWindow::_closeitem_Action);
}

void aboutWindow::StaticText5_Open() {
    StaticText5->setText(win::App()->shortVersion());
}

void aboutWindow::_closeitem_Action() {
    close();
}

namespace {
QPointer<aboutWindow> g_about;
}

aboutWindow* win::aboutWindow() {
    if (g_about.isNull()) {
        g_about = new quillon::aboutWindow(win::mainWindow());
    }
    return g_about.data();
}

} // namespace quillon
