#include "ui/confirmWindow.h"

#include "ui/controls.h"
#include "ui/mainWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace quillon {

confirmWindow::confirmWindow(mainWindow& window) : QDialog(&window), m_window(window) {
    setObjectName(QStringLiteral("confirmWindow"));
    setWindowTitle(QStringLiteral("削除の確認"));
    setModal(true);
    const double scale = logicalDpiY() / 72.0;
    auto pt = [scale](int v) { return qRound(v * scale); };
    setFixedSize(pt(393), pt(132));

    Canvas1 = new QLabel(this);
    Canvas1->setObjectName(QStringLiteral("Canvas1"));
    Canvas1->setGeometry(pt(20), pt(21), pt(38), pt(40));
    Canvas1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Canvas1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(pt(32), pt(32)));
    Canvas1->setAccessibleName(QStringLiteral("警告"));

    StaticText1 = new QLabel(QStringLiteral("チェックされたアドレスを削除してもよろしいですか？"), this);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setGeometry(pt(62), pt(34), pt(311), pt(20));
    StaticText1->setFont(japaneseFont(12));

    PushButton2 = new QPushButton(QStringLiteral("キャンセル"), this);
    PushButton2->setObjectName(QStringLiteral("PushButton2"));
    PushButton2->setGeometry(pt(215), pt(92), pt(77), pt(20));
    PushButton2->setFont(japaneseFont(12));
    PushButton2->setAutoDefault(false);

    PushButton1 = new QPushButton(QStringLiteral("OK"), this);
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton1->setGeometry(pt(304), pt(92), pt(69), pt(20));
    PushButton1->setFont(japaneseFont(12));
    PushButton1->setDefault(true);

    connect(PushButton1, &QPushButton::clicked, this, &confirmWindow::PushButton1_Action);
    connect(PushButton2, &QPushButton::clicked, this, &confirmWindow::PushButton2_Action);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void confirmWindow::PushButton1_Action() {
    if (from == 0) {
        m_window.AddressBox1.deleteChecks();
        m_window.listCountText->setText(QString::number(m_window.AddressBox1.returnListcount()));
    } else if (from == 1) {
        m_window.AddressBox1.DeleteAllRows();
        m_window.listCountText->setText(QStringLiteral("---"));
    }
    accept();
}

void confirmWindow::PushButton2_Action() {
    reject();
}

} // namespace quillon
