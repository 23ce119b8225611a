#include "ui/prefWindow.h"

#include "ui/App.h"
#include "ui/controls.h"
#include "ui/mainWindow.h"
#include "ui/services.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>

#include <limits>

namespace quillon {

namespace {
constexpr std::int32_t kLayoutCodes[3] = {Settings::kLayoutLine, Settings::kLayoutComma, Settings::kLayoutLineComma};
constexpr std::int32_t kOnCodes[3] = {Settings::kDeleteOn, Settings::kSortOn, Settings::kCheckOn};
constexpr std::int32_t kOffCodes[3] = {Settings::kDeleteOff, Settings::kSortOff, Settings::kCheckOff};
} // namespace

prefWindow::prefWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("prefWindow"));
    setWindowTitle(QStringLiteral("初期設定"));
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose);
    const double scale = logicalDpiY() / 72.0;
    auto pt = [scale](int v) { return qRound(v * scale); };
    setFixedSize(pt(461), pt(430));

    // Each tab page holds a panel that spans the whole tab panel, so that the
    // controls keep their places measured from the window's corner; the panel
    // is moved up and left by the page's offset (the tab bar and the frame),
    // and the page clips it, so nothing covers the tab bar.
    TabPanel1 = new QTabWidget(this);
    TabPanel1->setObjectName(QStringLiteral("TabPanel1"));
    TabPanel1->setGeometry(pt(20), pt(14), pt(421), pt(364));
    TabPanel1->setFont(japaneseFont(12));
    for (int i = 0; i < 2; ++i) {
        auto* page = new QWidget;
        TabPanel1->addTab(page, QString());
        m_tabs[i] = new QWidget(page);
        m_tabs[i]->setObjectName(QStringLiteral("tabPanel%1").arg(i));
    }
    if (QWidget* stack = TabPanel1->widget(0)->parentWidget()) {
        stack->installEventFilter(this);
    }
    placeTabPanels();
    // A control at design place (l, t) in the window, on tab `tab` (or the window).
    auto place = [&](QWidget* w, int tab, int l, int t, int wd, int h) {
        if (tab >= 0) {
            w->setParent(m_tabs[tab]);
            w->setGeometry(pt(l - 20), pt(t - 14), pt(wd), pt(h));
        } else {
            w->setGeometry(pt(l), pt(t), pt(wd), pt(h));
        }
    };
    auto named = [](QWidget* w, const QString& name) {
        w->setObjectName(name);
        w->setFont(japaneseFont(12));
        return w;
    };

    GroupBox2 = new QGroupBox(QStringLiteral("検索"));
    named(GroupBox2, QStringLiteral("GroupBox2"));
    place(GroupBox2, 0, 46, 50, 369, 123);
    const QString checkCaptions[3] = {QStringLiteral("重複アドレスを削除する"), QStringLiteral("ドメインごとに並べる"),
                                      QStringLiteral("怪しいアドレスをチェックする")};
    for (int i = 0; i < 3; ++i) {
        auto* box = new QCheckBox(checkCaptions[i]);
        named(box, QStringLiteral("prefcheckBox%1").arg(i));
        place(box, 0, 63, 76 + 32 * i, 368, 20);
        prefcheckBox[static_cast<std::size_t>(i)] = box;
    }

    GroupBox1 = new QGroupBox(QStringLiteral("書き出し"));
    named(GroupBox1, QStringLiteral("GroupBox1"));
    place(GroupBox1, 0, 46, 188, 367, 172);
    const QString layoutCaptions[3] = {QStringLiteral("一つずつ書き出して、改行"),
                                       QStringLiteral("改行せず、すべてをカンマ区切りで書き出し"),
                                       QStringLiteral("n個ずつカンマ区切りで書き出して、改行")};
    const int layoutTops[3] = {217, 249, 282};
    auto* layoutGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        auto* option = new QRadioButton(layoutCaptions[i]);
        named(option, QStringLiteral("writeOutButton%1").arg(i));
        place(option, 0, 63, layoutTops[i], 330, i == 1 ? 21 : 20);
        layoutGroup->addButton(option, i);
        writeOutButton[static_cast<std::size_t>(i)] = option;
    }
    StaticText1 = new QLabel(QStringLiteral("n="));
    named(StaticText1, QStringLiteral("StaticText1"));
    place(StaticText1, 0, 80, 314, 25, 20);
    StaticText1->setEnabled(false);
    EditField1 = new QLineEdit(QStringLiteral("10"));
    named(EditField1, QStringLiteral("EditField1"));
    place(EditField1, 0, 103, 313, 52, 22);
    EditField1->setEnabled(false);
    EditField1->setAccessibleName(QStringLiteral("1行のアドレス数 n"));
    StaticText1->setBuddy(EditField1);
    needYohakubox = new QCheckBox(QStringLiteral("改行後、1行空ける"));
    needYohakubox->setObjectName(QStringLiteral("needYohakubox"));
    place(needYohakubox, 0, 167, 314, 226, 21);
    needYohakubox->setEnabled(false);

    StaticText2 =
        new QLabel(QStringLiteral("リストから除外したいアドレスをカンマ区切り、もしくは改行区切りで登録してください"));
    named(StaticText2, QStringLiteral("StaticText2"));
    StaticText2->setWordWrap(true);
    place(StaticText2, 1, 48, 50, 365, 33);
    StaticText3 =
        new QLabel(QStringLiteral("\"***\"を使用すると、アカウントやドメインでまとめて指定することができます。"));
    named(StaticText3, QStringLiteral("StaticText3"));
    place(StaticText3, 1, 48, 95, 365, 20);
    StaticText4 = new QLabel(QStringLiteral("例: Mailer-Daemonアカウントをすべて除外したい場合...Mailer-Daemon@***"));
    named(StaticText4, QStringLiteral("StaticText4"));
    place(StaticText4, 1, 48, 114, 365, 20);
    StaticText5 = new QLabel(QStringLiteral("example.comドメインをすべて除外したい場合...***@example.com"));
    named(StaticText5, QStringLiteral("StaticText5"));
    place(StaticText5, 1, 64, 127, 354, 20);
    for (QLabel* l : {StaticText3, StaticText4, StaticText5}) {
        l->setFont(japaneseFont(10));
    }
    EditField2 = new QPlainTextEdit;
    named(EditField2, QStringLiteral("EditField2"));
    place(EditField2, 1, 48, 160, 365, 157);
    EditField2->setAccessibleName(QStringLiteral("除外するアドレス"));
    EditField2->setTabChangesFocus(true);
    RadioButton1 = new QRadioButton(QStringLiteral("リストから除外する"));
    named(RadioButton1, QStringLiteral("RadioButton1"));
    place(RadioButton1, 1, 48, 329, 165, 20);
    RadioButton2 = new QRadioButton(QStringLiteral("リストに含めてチェックをいれる"));
    named(RadioButton2, QStringLiteral("RadioButton2"));
    // A little wider than first drawn, so that the caption is not cut with
    // the Japanese fonts of this desktop.
    place(RadioButton2, 1, 228, 329, 205, 20);

    PushButton1 = new QPushButton(QStringLiteral("初期値にもどす"), this);
    named(PushButton1, QStringLiteral("PushButton1"));
    place(PushButton1, -1, 20, 390, 125, 20);
    PushButton1->setAutoDefault(false);
    CancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
    named(CancelButton, QStringLiteral("CancelButton"));
    place(CancelButton, -1, 283, 390, 77, 20);
    CancelButton->setAutoDefault(false);
    OKbutton = new QPushButton(QStringLiteral("設定"), this);
    named(OKbutton, QStringLiteral("OKbutton"));
    place(OKbutton, -1, 372, 390, 69, 20);
    OKbutton->setDefault(true);

    for (int i = 0; i < 3; ++i) {
        onClick(prefcheckBox[static_cast<std::size_t>(i)], [this, i] { prefcheckBox_Action(i); });
        onClick(writeOutButton[static_cast<std::size_t>(i)], [this, i] { writeOutButton_Action(i); });
    }
    connect(OKbutton, &QPushButton::clicked, this, &prefWindow::OKbutton_Action);
    connect(CancelButton, &QPushButton::clicked, this, &prefWindow::CancelButton_Action);
    connect(PushButton1, &QPushButton::clicked, this, &prefWindow::PushButton1_Action);

    // Ctrl+Tab and Ctrl+PgDn go to the next tab, Ctrl+Shift+Tab and
    // Ctrl+PgUp to the previous one, wherever the focus is in the window.
    auto tabKeys = [this](QList<QKeySequence> keys, int step) {
        auto* action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, [this, step] {
            const int count = TabPanel1->count();
            TabPanel1->setCurrentIndex((TabPanel1->currentIndex() + step + count) % count);
        });
    };
    tabKeys({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
    tabKeys({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
             QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
            -1);

    TabPanel1_Open();
    Open();
    TabPanel1->setCurrentIndex(0);
}

bool prefWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
        placeTabPanels();
    }
    return QDialog::eventFilter(watched, event);
}

void prefWindow::placeTabPanels() {
    for (QWidget* panel : m_tabs) {
        const QPoint offset = panel->parentWidget()->mapTo(TabPanel1, QPoint(0, 0));
        panel->setGeometry(QRect(-offset, TabPanel1->size()));
    }
}

void prefWindow::TabPanel1_Open() {
    TabPanel1->setTabText(0, QStringLiteral("書き出し/検索設定"));
    TabPanel1->setTabText(1, QStringLiteral("フィルター設定"));
    for (int i = 0; i < TabPanel1->count(); ++i) {
        TabPanel1->widget(i)->setAccessibleName(TabPanel1->tabText(i));
    }
}

void prefWindow::Open() {
    const App& app = *win::App();
    for (int i = 0; i < 3; ++i) {
        prefcheckBox[static_cast<std::size_t>(i)]->setChecked(app.prefN[static_cast<std::size_t>(i + 1)] ==
                                                              kOnCodes[i]);
    }
    for (int i = 0; i < 3; ++i) {
        if (app.prefN[4] == kLayoutCodes[i]) {
            writeOutButton[static_cast<std::size_t>(i)]->setChecked(true);
        }
    }
    if (app.prefN[4] == Settings::kLayoutLineComma) {
        StaticText1->setEnabled(true);
        EditField1->setEnabled(true);
    }
    EditField1->setText(QString::number(app.prefN[5]));
    EditField2->setPlainText(QString::fromStdString(app.filterString));
    if (app.inList) {
        RadioButton2->setChecked(true);
    } else {
        RadioButton1->setChecked(true);
    }
    if (app.needYohaku) {
        needYohakubox->setChecked(true);
    }
}

void prefWindow::prefcheckBox_Action(int index) {
    const bool on = prefcheckBox[static_cast<std::size_t>(index)]->isChecked();
    win::App()->prefN[static_cast<std::size_t>(index + 1)] = on ? kOnCodes[index] : kOffCodes[index];
}

void prefWindow::writeOutButton_Action(int index) {
    win::App()->prefN[4] = kLayoutCodes[index];
    if (index == 2) {
        StaticText1->setEnabled(true);
        EditField1->setEnabled(true);
        needYohakubox->setEnabled(true);
        EditField1->setFocus();
    } else {
        StaticText1->setEnabled(false);
        EditField1->setEnabled(false);
        needYohakubox->setChecked(false);
        needYohakubox->setEnabled(false);
    }
}

std::int32_t prefWindow::readNumber(const QString& text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && text[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    std::int64_t value = 0;
    for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i].unicode() - u'0'),
                                       std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1);
    }
    value = negative ? -value : value;
    value = std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(value);
}

QString prefWindow::joinLines(const QString& text) {
    QString joined = text;
    joined.replace(QStringLiteral("\r\n"), QStringLiteral(","));
    joined.replace(QLatin1Char('\r'), QLatin1Char(','));
    joined.replace(QLatin1Char('\n'), QLatin1Char(','));
    joined.replace(QChar::ParagraphSeparator, QLatin1Char(','));
    joined.replace(QChar::LineSeparator, QLatin1Char(','));
    return joined;
}

void prefWindow::OKbutton_Action() {
    App& app = *win::App();
    for (int i = 0; i < 3; ++i) {
        app.prefN[static_cast<std::size_t>(i + 1)] =
            prefcheckBox[static_cast<std::size_t>(i)]->isChecked() ? kOnCodes[i] : kOffCodes[i];
    }
    for (int i = 0; i < 3; ++i) {
        if (writeOutButton[static_cast<std::size_t>(i)]->isChecked()) {
            app.prefN[4] = kLayoutCodes[i];
            break;
        }
    }
    app.prefN[5] = readNumber(EditField1->text());
    app.filterString = joinLines(EditField2->toPlainText()).toStdString();
    app.inList = RadioButton2->isChecked();
    app.needYohaku = needYohakubox->isChecked();
    if (!app.settei()) {
        // The settings stay in force for this run; tell the user they were not stored.
        win::mainWindow()->services().warning(
            this, QStringLiteral("初期設定"),
            QStringLiteral("設定を保存できませんでした。設定はこの起動中だけ有効です。\n%1").arg(app.prefError()));
    }
    close();
}

void prefWindow::CancelButton_Action() {
    close();
}

void prefWindow::PushButton1_Action() {
    for (QCheckBox* box : prefcheckBox) {
        box->setChecked(true);
    }
    writeOutButton[0]->setChecked(true);
    EditField1->setText(QStringLiteral("10"));
}

namespace {
QPointer<prefWindow> g_pref;
}

prefWindow* win::prefWindow() {
    if (g_pref.isNull()) {
        g_pref = new quillon::prefWindow(win::mainWindow());
    }
    return g_pref.data();
}

} // namespace quillon
