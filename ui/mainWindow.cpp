#include "ui/mainWindow.h"

#include "app/atFields.h"
#include "export/fileWriter.h"
#include "export/listWriter.h"
#include "extract/convModule.h"
#include "list/qt/addressModel.h"
#include "list/qt/addressView.h"
#include "ui/App.h"
#include "ui/aboutWindow.h"
#include "ui/confirmWindow.h"
#include "ui/controls.h"
#include "ui/deleteThread.h"
#include "ui/errorText.h"
#include "ui/fitLabel.h"
#include "ui/job.h"
#include "ui/prefWindow.h"
#include "ui/searchJob.h"
#include "ui/services.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QStatusBar>

#include <algorithm>
#include <unordered_map>

namespace quillon {

namespace {

constexpr QSize kDesignSize(539, 531);

// The one main window (the first one made) and the services it is made with.
QPointer<mainWindow> g_mainWindow;
Services* g_services = nullptr;

double pointScale(const QWidget* widget) {
    return widget->logicalDpiY() / 72.0;
}

} // namespace

mainWindow::mainWindow(Services* services, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_anchors(QSize()) {
    if (m_services == nullptr) {
        m_ownServices = std::make_unique<DesktopServices>();
        m_services = m_ownServices.get();
    }
    if (g_mainWindow.isNull()) {
        g_mainWindow = this;
    }
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Quillon"));
    createMenus();
    createControls();
    Open();
}

mainWindow::~mainWindow() {
    // Closing the window below moves the focus, and the application would
    // call back into this half-destroyed window for it.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    stop = true;
    AddressBox1.exeStop = true;
    m_queue.clear();
    m_current.reset();
    // The view and its model read the list, which dies with this object:
    // they go first.
    delete AddressBox1View;
    delete AddressBox1Model;
    AddressBox1.setObserver(nullptr);
}

void mainWindow::createControls() {
    const double scale = pointScale(this);
    auto pt = [scale](int v) { return qRound(v * scale); };
    auto rect = [&](int l, int t, int w, int h) { return QRect(pt(l), pt(t), pt(w), pt(h)); };

    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("content"));
    setCentralWidget(m_content);
    m_anchors = AnchorLayout(QSize(pt(kDesignSize.width()), pt(kDesignSize.height())));
    using E = AnchorLayout::Edge;

    auto button = [&](const char* name, const QString& caption, const QString& help) {
        auto* b = new QPushButton(caption, m_content);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(japaneseFont(12));
        b->setToolTip(help);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [&](const char* name, const QString& text, int size) {
        auto* l = new FitLabel(text, m_content);
        l->setObjectName(QString::fromLatin1(name));
        l->setFont(japaneseFont(size));
        return l;
    };

    ProgressBar1 = new QProgressBar(m_content);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 0);
    ProgressBar1->setValue(0);
    ProgressBar1->setAccessibleName(QStringLiteral("進行状況"));
    m_anchors.add(ProgressBar1, rect(20, 500, 166, 12), E::Left | E::Bottom);
    ProgressBar1->setVisible(false);

    openButton = button(
        "openButton", QStringLiteral("Open"),
        QStringLiteral("Openと書いてあるときはファイルを開きます。また、STOPと書いてあるときは処理を中止します。"));
    m_anchors.add(openButton, rect(450, 491, 69, 20), E::Right | E::Bottom);

    statasText =
        label("statasText",
              QStringLiteral("上のフィールドにファイルをドロップするか、Openボタンでファイルを選択してください"), 9);
    m_anchors.add(statasText, rect(20, 478, 374, 15), E::Left | E::Bottom);

    AddressBox1.Open();
    AddressBox1View = new AddressView(m_content);
    AddressBox1View->setObjectName(QStringLiteral("AddressBox1"));
    AddressBox1View->setFont(japaneseFont(12));
    AddressBox1View->horizontalHeader()->setFont(japaneseFont(12));
    AddressBox1View->setToolTip(QStringLiteral("ここにファイルをドロップしてください"));
    AddressBox1View->setAccessibleName(QStringLiteral("アドレスリスト"));
    AddressBox1View->setAccessibleDescription(AddressBox1View->toolTip());
    AddressBox1Model = new AddressModel(AddressBox1, this);
    AddressBox1Model->setPalette(AddressBox1View->palette());
    AddressBox1View->setAddressModel(AddressBox1Model);
    m_anchors.add(AddressBox1View, rect(20, 14, 488, 358), E::All);

    writeButton =
        button("writeButton", QStringLiteral("書き出し..."), QStringLiteral("リストをテキストファイルに書き出します"));
    m_anchors.add(writeButton, rect(362, 492, 76, 20), E::Right | E::Bottom);
    writeButton->setVisible(false);

    GroupBox1 = new QGroupBox(m_content);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFont(japaneseFont(10));
    GroupBox1->setAccessibleName(QStringLiteral("ソースファイルの文字コード"));
    // Not anchored in the first design; kept at the bottom-left so that a
    // larger list never covers it.
    m_anchors.add(GroupBox1, rect(20, 418, 418, 48), E::Left | E::Bottom);

    struct EncInfo {
        const char* caption;
        const char* help;
        int left, width;
    };
    const std::array<EncInfo, 5> encs{{
        {"Shift_JIS", "ソースファイルの文字コードをShift_JISとして処理します。通常はこのままでOKです。", 26, 69},
        {"EUC-JP", "ソースファイルの文字コードをEUC-JPとして処理します", 112, 69},
        {"UTF-8", "ソースファイルの文字コードをUTF-8として処理します", 187, 56},
        {"推測させる", "", 342, 80},
        {"ISO-2022-JP", "ソースファイルの文字コードをISO-2022-JPとして処理します", 250, 80},
    }};
    for (int i = 0; i < 5; ++i) {
        const EncInfo& info = encs[static_cast<std::size_t>(i)];
        auto* radio = new QRadioButton(QString::fromUtf8(info.caption), GroupBox1);
        radio->setObjectName(QStringLiteral("encButton%1").arg(i));
        radio->setFont(japaneseFont(9));
        radio->setToolTip(QString::fromUtf8(info.help));
        radio->setGeometry(QRect(pt(info.left - 20), pt(439 - 418), pt(info.width), pt(20)));
        encButton[static_cast<std::size_t>(i)] = radio;
    }
    encButton[0]->setChecked(true);
    encButton[3]->setEnabled(false);
    for (int i = 0; i < 5; ++i) {
        onClick(encButton[static_cast<std::size_t>(i)], [this, i] { encButton_Action(i); });
    }

    clearButton =
        button("clearButton", QStringLiteral("リストをクリア"), QStringLiteral("上記のリストをすべて削除します"));
    m_anchors.add(clearButton, rect(20, 384, 100, 20), E::Right | E::Bottom);

    StaticText1 = label("StaticText1", QStringLiteral("項目数 :"), 9);
    m_anchors.add(StaticText1, rect(434, 374, 38, 20), E::Right | E::Bottom);
    listCountText = label("listCountText", QStringLiteral("---"), 9);
    // The labels that change keep no fixed accessible name: a screen reader
    // reads their text.
    listCountText->setAccessibleDescription(QStringLiteral("項目数"));
    m_anchors.add(listCountText, rect(476, 374, 43, 20), E::Right | E::Bottom);
    StaticText1->setBuddy(listCountText);

    ayashiiButton =
        button("ayashiiButton", QStringLiteral("チェック項目へ"), QStringLiteral("チェックされた項目へ移動します"));
    ayashiiButton->setEnabled(false);
    m_anchors.add(ayashiiButton, rect(132, 384, 116, 20), E::Right | E::Bottom);
    deleteButton =
        button("deleteButton", QStringLiteral("チェック項目を削除"), QStringLiteral("チェック項目をすべて削除します"));
    deleteButton->setEnabled(false);
    m_anchors.add(deleteButton, rect(260, 384, 149, 20), E::Right | E::Bottom);

    encodingBar = new EncodingBar(m_content);
    encodingBar->setFont(japaneseFont(9));
    connect(encodingBar, &EncodingBar::rereadRequested, this, &mainWindow::rereadMismatched);
    // Shown or hidden, the list makes room for it.
    connect(encodingBar->closeButton, &QPushButton::clicked, this, &mainWindow::layoutContent);

    // Keyboard order: the list, its buttons, the encoding, then export and Open.
    setTabOrder(encodingBar->rereadButton, encodingBar->closeButton);
    setTabOrder(encodingBar->closeButton, AddressBox1View);
    setTabOrder(AddressBox1View, clearButton);
    setTabOrder(clearButton, ayashiiButton);
    setTabOrder(ayashiiButton, deleteButton);
    setTabOrder(deleteButton, encButton[0]);
    setTabOrder(encButton[0], writeButton);
    setTabOrder(writeButton, openButton);

    connect(openButton, &QPushButton::clicked, this, &mainWindow::openButton_Action);
    connect(writeButton, &QPushButton::clicked, this, &mainWindow::write);
    connect(clearButton, &QPushButton::clicked, this, &mainWindow::clearButton_Action);
    connect(ayashiiButton, &QPushButton::clicked, this, &mainWindow::ayashiiButton_Action);
    connect(deleteButton, &QPushButton::clicked, this, &mainWindow::deleteButton_Action);
    connect(AddressBox1View, &AddressView::filesDropped, this, &mainWindow::dropPaths);
    setAcceptDrops(true);

    auto* source = new FitLabel(QString(), this);
    source->setObjectName(QStringLiteral("sourceProgressText"));
    source->setFont(japaneseFont(9));
    sourceProgressText = source;
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    // The window's edges resize it; a grip would only be one more unnamed
    // object for a screen reader.
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addPermanentWidget(sourceProgressText, 1);
    connect(AddressBox1Model, &AddressModel::cellTextChanged, this, &mainWindow::AddressBox1_CellTextChange);
    connect(AddressBox1Model, &QAbstractItemModel::rowsInserted, this, &mainWindow::EnableMenuItems);
    connect(AddressBox1Model, &QAbstractItemModel::modelReset, this, &mainWindow::EnableMenuItems);

    const QSize content(pt(kDesignSize.width()), pt(kDesignSize.height()));
    m_content->setMinimumSize(64, 64);
    resize(content.width(), content.height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    setMinimumSize(64, 64);
    setMaximumSize(32000, 32000);
}

void mainWindow::createMenus() {
    MenuBar1 = menuBar();
    MenuBar1->setObjectName(QStringLiteral("MenuBar1"));
    auto item = [this](QMenu* menu, const char* name, const QString& caption, const QString& shortcut) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty()) {
            action->setShortcut(QKeySequence(shortcut));
            action->setShortcutContext(Qt::WindowShortcut);
        }
        menu->addAction(action);
        return action;
    };

    FileMenu = MenuBar1->addMenu(QStringLiteral("ファイル"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    openitem = item(FileMenu, "openitem", QStringLiteral("開く"), QStringLiteral("Ctrl+O"));
    writeitem = item(FileMenu, "writeitem", QStringLiteral("書き出し..."), QStringLiteral("Ctrl+E"));
    closeitem = item(FileMenu, "closeitem", QStringLiteral("閉じる"), QStringLiteral("Ctrl+W"));
    FileMenu->addSeparator()->setObjectName(QStringLiteral("UntitledMenu2"));
    prefmenuitem = item(FileMenu, "prefmenuitem", QStringLiteral("初期設定..."), QStringLiteral("Ctrl+,"));
    prefmenuitem->setMenuRole(QAction::PreferencesRole);
    FileMenu->addSeparator()->setObjectName(QStringLiteral("UntitledMenu1"));
    FileQuit = item(FileMenu, "FileQuit", QStringLiteral("終了"), QStringLiteral("Ctrl+Q"));
    FileQuit->setMenuRole(QAction::QuitRole);

    EditMenu = MenuBar1->addMenu(QStringLiteral("編集"));
    EditMenu->setObjectName(QStringLiteral("EditMenu"));
    EditCut = item(EditMenu, "EditCut", QStringLiteral("カット"), QStringLiteral("Ctrl+X"));
    EditCopy = item(EditMenu, "EditCopy", QStringLiteral("コピー"), QStringLiteral("Ctrl+C"));
    EditPaste = item(EditMenu, "EditPaste", QStringLiteral("クリップボードから検索..."), QStringLiteral("Ctrl+V"));
    EditMenu->addSeparator()->setObjectName(QStringLiteral("UntitledMenu0"));
    finditem = item(EditMenu, "finditem", QStringLiteral("怪しいアドレスをチェック..."), QStringLiteral("Ctrl+F"));
    deleteSameitem =
        item(EditMenu, "deleteSameitem", QStringLiteral("重複アドレスを削除する..."), QStringLiteral("Ctrl+K"));
    aboutmenuitem = item(EditMenu, "aboutmenuitem", QStringLiteral("Quillonについて..."), QString());
    aboutmenuitem->setMenuRole(QAction::AboutRole);

    connect(openitem, &QAction::triggered, this, &mainWindow::_openitem_Action);
    connect(writeitem, &QAction::triggered, this, &mainWindow::_writeitem_Action);
    connect(prefmenuitem, &QAction::triggered, this, &mainWindow::_prefmenuitem_Action);
    connect(aboutmenuitem, &QAction::triggered, this, &mainWindow::_aboutmenuitem_Action);
    connect(EditPaste, &QAction::triggered, this, &mainWindow::_EditPaste_Action);
    connect(finditem, &QAction::triggered, this, [this] { _finditem_Action(); });
    connect(deleteSameitem, &QAction::triggered, this, &mainWindow::_deleteSameitem_Action);
    connect(FileQuit, &QAction::triggered, this, &QWidget::close);
    connect(EditCut, &QAction::triggered, this, [this] {
        if (QWidget* editor = textEditor()) {
            QMetaObject::invokeMethod(editor, "cut");
        }
    });
    connect(EditCopy, &QAction::triggered, this, [this] {
        if (QWidget* editor = textEditor()) {
            QMetaObject::invokeMethod(editor, "copy");
        } else {
            copyRows();
        }
    });
    // Not an item of the menus: the key alone, as in any list.
    selectAllAction = new QAction(this);
    selectAllAction->setObjectName(QStringLiteral("selectAllAction"));
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setShortcutContext(Qt::WindowShortcut);
    addAction(selectAllAction);
    connect(selectAllAction, &QAction::triggered, this, [this] {
        if (QWidget* editor = textEditor()) {
            QMetaObject::invokeMethod(editor, "selectAll");
        } else {
            selectAllRows();
        }
    });
    connect(qApp, &QApplication::focusChanged, this, &mainWindow::EnableMenuItems);
    // "閉じる" closes the about window when that is in front; here it does nothing.
    connect(FileMenu, &QMenu::aboutToShow, this, &mainWindow::EnableMenuItems);
    connect(EditMenu, &QMenu::aboutToShow, this, &mainWindow::EnableMenuItems);
}

void mainWindow::Open() {
    stop = true;
    CRLF = QString(QChar(13));
    for (int i = 0; i < 5; ++i) {
        encButton_Open(i);
    }
    EnableMenuItems();
}

void mainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layoutContent();
}

void mainWindow::layoutContent() {
    if (m_content == nullptr) {
        return;
    }
    m_anchors.apply(m_content->size());
    if (encodingBar == nullptr || encodingBar->isHidden()) {
        return;
    }
    QRect list = AddressBox1View->geometry();
    const int height = encodingBar->layout()->hasHeightForWidth()
                           ? encodingBar->layout()->totalHeightForWidth(list.width())
                           : encodingBar->sizeHint().height();
    encodingBar->setGeometry(list.left(), list.top(), list.width(), height);
    encodingBar->raise();
    list.setTop(list.top() + height + 4);
    AddressBox1View->setGeometry(list);
}

void mainWindow::showEncodingWarning() {
    encodingBar->showMismatches(std::move(mismatched));
    mismatched.clear();
    layoutContent();
}

void mainWindow::rereadMismatched() {
    const std::vector<EncodingBar::Mismatch> again = encodingBar->rereadable();
    encodingBar->showMismatches({});
    layoutContent();
    if (again.empty()) {
        return;
    }
    // The rows first found in those sources (or in a message of one, named
    // "path (message 3)") go; the new reading adds its own.
    whenListReady([this, again] {
        std::vector<std::string> paths;
        for (const EncodingBar::Mismatch& m : again) {
            paths.push_back(QFile::encodeName(m.path).toStdString());
        }
        std::unordered_map<std::uint32_t, bool> fromThem;
        const auto isFromThem = [&](std::uint32_t source) {
            const auto [at, added] = fromThem.try_emplace(source, false);
            if (added) {
                const std::string& name = AddressBox1.sourceName(source);
                at->second = std::any_of(paths.begin(), paths.end(), [&](const std::string& path) {
                    return name == path || name.starts_with(path + " (message ");
                });
            }
            return at->second;
        };
        RowList rows = AddressBox1.takeRows();
        rows.removeIf([&](const AddressRow& row) { return row.source != 0 && isFromThem(row.source); });
        AddressBox1.putRows(std::move(rows));
        listCountText->setText(QString::number(AddressBox1.ListCount()));
    });
    for (const EncodingBar::Mismatch& m : again) {
        searchThread::Source source;
        source.path = m.path;
        source.encoding = m.likely;
        enqueue(std::make_unique<searchJob>(*this, std::move(source)));
    }
}

void mainWindow::closeEvent(QCloseEvent* event) {
    stop = true;
    AddressBox1.exeStop = true;
    event->accept();
    QApplication::quit();
}

// ---- States -------------------------------------------------------------------

void mainWindow::setbuttonOFF() {
    AddressBox1.exeStop = false;
    AddressBox1View->setVisible(false);
    AddressBox1.setVisible(false);
    setStop(false);
    for (QRadioButton* b : encButton) {
        b->setEnabled(false);
    }
    openButton->setText(QStringLiteral("STOP"));
    writeButton->setEnabled(false);
    clearButton->setEnabled(false);
    ayashiiButton->setEnabled(false);
    deleteButton->setEnabled(false);
}

void mainWindow::setbuttonON() {
    AddressBox1.exeStop = true;
    AddressBox1View->setVisible(true);
    AddressBox1.setVisible(true);
    setStop(true);
    for (QRadioButton* b : encButton) {
        b->setEnabled(true);
    }
    encButton[3]->setEnabled(false);
    openButton->setText(QStringLiteral("Open"));
    writeButton->setEnabled(true);
    clearButton->setEnabled(true);
    ayashiiButton->setEnabled(true);
    deleteButton->setEnabled(true);
}

void mainWindow::setprog0() {
    ProgressBar1->setMaximum(0);
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(true);
}

void mainWindow::setprogFalse() {
    ProgressBar1->setVisible(false);
}

void mainWindow::setStop(bool value) {
    stop = value;
    EnableMenuItems();
}

void mainWindow::setStatus(const QString& text) {
    statasText->setText(text);
    emit statusChanged(text);
}

void mainWindow::setProgress(int maximum, int value) {
    ProgressBar1->setMaximum(maximum);
    ProgressBar1->setValue(value);
}

// ---- Input sources --------------------------------------------------------------

void mainWindow::openButton_Action() {
    if (stop) {
        // A press between the phases of a running job opens a file that waits
        // for the job; it must not clear that job's stop.
        if (!jobRunning()) {
            userStopped = false;
        }
        openFile();
        return;
    }
    stop = true;
    AddressBox1.exeStop = true;
    openButton->setText(QStringLiteral("Open"));
    userStopped = true;
    dropQueue();
    EnableMenuItems();
}

void mainWindow::openFile() {
    const QString path = services().openFileName(this);
    if (path.isEmpty()) {
        return;
    }
    openFile(path);
}

void mainWindow::openFile(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    searchThread::Source source;
    source.path = path;
    source.encoding = win::App()->inEncoding;
    enqueue(std::make_unique<searchJob>(*this, std::move(source)));
}

void mainWindow::openText(const QString& text) {
    searchThread::Source source;
    source.text = text;
    source.encoding = Encoding::UTF16;
    enqueue(std::make_unique<searchJob>(*this, std::move(source)));
}

void mainWindow::AddressBox1_DropObject(const QString& path) {
    openFile(path);
}

void mainWindow::dropPaths(const QStringList& paths) {
    // Every item joins the queue before the first one starts.
    m_holdQueue = true;
    for (const QString& path : paths) {
        AddressBox1_DropObject(path);
    }
    m_holdQueue = false;
    if (!m_current && !m_queue.empty()) {
        startNextJob();
    }
}

void mainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (AddressView::localPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void mainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (AddressView::localPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void mainWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = AddressView::localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    dropPaths(paths);
}

void mainWindow::sourceStarted(int index, int total, const QString& path) {
    const QString shown = path.isEmpty() ? QStringLiteral("クリップボード") : QFileInfo(path).fileName();
    sourceProgressText->setText(QStringLiteral("%1 / %2  %3").arg(index + 1).arg(total).arg(shown));
    sourceProgressText->setToolTip(QDir::toNativeSeparators(path));
    emit sourceFieldChanged(sourceProgressText->text());
}

void mainWindow::showSourceSummary() {
    sourceProgressText->setText(QStringLiteral("読み込んだファイル %1 件、読み込めなかったファイル %2 件")
                                    .arg(sourcesRead)
                                    .arg(unreadable.size()));
    sourceProgressText->setToolTip(unreadable.join(QLatin1Char('\n')));
    emit sourceFieldChanged(sourceProgressText->text());
}

void mainWindow::_EditPaste_Action() {
    bool hasText = false;
    const QString text = services().clipboardText(&hasText);
    if (hasText) {
        openText(text);
    }
}

// ---- Encoding choice ------------------------------------------------------------

void mainWindow::encButton_Open(int /*index*/) {
    win::App()->inEncoding = Encoding::ShiftJIS;
}

void mainWindow::encButton_Action(int index) {
    static constexpr std::array<Encoding, 5> kChoices{Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8,
                                                      Encoding::None, Encoding::ISO2022JP};
    if (index >= 0 && index < 5) {
        win::App()->inEncoding = kChoices[static_cast<std::size_t>(index)];
    }
}

void mainWindow::outStr(const std::string& raw) {
    forGuess = convModule::guessSample(raw);
}

// ---- List commands --------------------------------------------------------------

void mainWindow::clearButton_Action() {
    whenListReady([this] {
        confirmWindow dialog(*this);
        dialog.from = 1;
        dialog.StaticText1->setText(QStringLiteral("リストをすべて削除してもよろしいですか？"));
        services().runDialog(&dialog);
    });
}

void mainWindow::deleteButton_Action() {
    whenListReady([this] {
        confirmWindow dialog(*this);
        dialog.from = 0;
        services().runDialog(&dialog);
    });
}

void mainWindow::ayashiiButton_Action() {
    whenListReady([this] {
        if (!AddressBox1.upUndefined()) {
            services().message(this, QStringLiteral("以上です"));
            AddressBox1.setScrollPosition(0);
            ayashiiButton->setText(QStringLiteral("チェック項目へ"));
        } else {
            ayashiiButton->setText(QStringLiteral("次へ"));
        }
    });
}

bool mainWindow::_finditem_Action() {
    whenListReady([this] { AddressBox1.checkAddress(win::App()->isHighLight); });
    return false;
}

void mainWindow::_deleteSameitem_Action() {
    enqueue(std::make_unique<deleteThread>(*this));
}

void mainWindow::AddressBox1_CellTextChange(int row, int column) {
    if (row < 0 || row >= AddressBox1.ListCount() || column < 0 || column > 1) {
        return;
    }
    const std::string text = AddressBox1.Cell(row, column);
    AddressBox1.setCell(row, 2, std::string(atField(text, 2)));
}

void mainWindow::AddressBox1_progChange(int maximum, int value) {
    ProgressBar1->setMaximum(maximum);
    ProgressBar1->setValue(value);
}

void mainWindow::copyRows() {
    whenListReady([this] {
        QStringList lines;
        for (std::int64_t r = 0; r < AddressBox1.ListCount(); ++r) {
            if (AddressBox1.Selected(r)) {
                lines << QString::fromStdString(AddressBox1.Cell(r, 1));
            }
        }
        if (!lines.isEmpty()) {
            services().setClipboardText(lines.join(QLatin1Char('\n')));
        }
    });
}

void mainWindow::selectAllRows() {
    if (stop && !AddressBox1View->isHidden()) {
        AddressBox1View->selectAll();
    }
}

void mainWindow::AddressBox1_deleteDone(bool stopped) {
    if (stopped) {
        userStopped = true;
    }
    listCountText->setText(QStringLiteral(" %1").arg(rowCount()));
}

// ---- Export ---------------------------------------------------------------------

void mainWindow::write() {
    whenListReady([this] {
        if (AddressBox1.ListCount() == 0) {
            return;
        }
        const QString path = services().saveFileName(this, QStringLiteral("Untitled.txt"));
        if (path.isEmpty()) {
            return;
        }
        const App& app = *win::App();
        const auto text = listWriter::buildExportText(AddressBox1.rows(), app.prefN[4], app.prefN[5], app.needYohaku);
        if (!text) {
            // A layout code other than 4, 6 and 14 (a damaged preferences file) writes nothing.
            services().warning(
                this, QStringLiteral("書き出しエラー"),
                QStringLiteral("書き出しの形式 %1 は 4, 6, 14 のどれでもないため、書き出しませんでした。\n"
                               "初期設定で書き出しの形式を選び直してください。")
                    .arg(app.prefN[4]));
            return;
        }
        const convModule::SjisResult sjis = convModule::convToSJIS(*text);
        const WriteResult result =
            writeFileSafely(std::filesystem::path(QFile::encodeName(path).toStdString()), sjis.bytes);
        if (!result.ok) {
            services().warning(this, QStringLiteral("書き出しエラー"),
                               QStringLiteral("「%1」に書き出せませんでした。\n%2")
                                   .arg(QDir::toNativeSeparators(path), systemErrorText(result.errorNumber)));
            return;
        }
        // Linux file systems keep no type and creator codes: nothing to stamp.
        if (sjis.replaced > 0) {
            setStatus(
                QStringLiteral("書き出しました（Shift_JISで表せない %1 文字を「?」にしました）").arg(sjis.replaced));
        }
    });
}

// ---- Menus ----------------------------------------------------------------------

void mainWindow::_openitem_Action() {
    openFile();
}
void mainWindow::_writeitem_Action() {
    write();
}

void mainWindow::_prefmenuitem_Action() {
    prefWindow* window = win::prefWindow();
    window->show();
    window->raise();
    window->activateWindow();
}

void mainWindow::_aboutmenuitem_Action() {
    aboutWindow* window = win::aboutWindow();
    window->show();
    window->raise();
    window->activateWindow();
}

QWidget* mainWindow::textEditor() const {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || !isAncestorOf(focus)) {
        return nullptr;
    }
    return (qobject_cast<QLineEdit*>(focus) != nullptr || qobject_cast<QPlainTextEdit*>(focus) != nullptr) ? focus
                                                                                                           : nullptr;
}

void mainWindow::EnableMenuItems() {
    if (openitem == nullptr || AddressBox1View == nullptr) {
        return;
    }
    // Defaults: the items with automatic enabling on are enabled.
    for (QAction* a : {openitem, writeitem, closeitem, prefmenuitem, FileQuit, deleteSameitem, aboutmenuitem}) {
        a->setEnabled(true);
    }
    for (QAction* a : {EditCut, EditCopy, EditPaste, finditem}) {
        a->setEnabled(false);
    }
    // Cut serves the text being edited (an address cell); copy and select
    // all serve that text too, and otherwise the rows of the list.
    const bool editing = textEditor() != nullptr;
    const bool rowsShown = stop && !m_listOut && !AddressBox1View->isHidden() && AddressBox1.ListCount() > 0;
    EditCut->setEnabled(editing);
    EditCopy->setEnabled(editing || rowsShown);
    selectAllAction->setEnabled(editing || rowsShown);
    if (stop) {
        EditPaste->setEnabled(true);
        prefmenuitem->setEnabled(true);
        aboutmenuitem->setEnabled(true);
        openitem->setEnabled(true);
        const bool hasRows = rowCount() > 0;
        writeitem->setEnabled(hasRows);
        finditem->setEnabled(hasRows);
        deleteSameitem->setEnabled(hasRows);
    } else {
        for (QAction* a : {EditPaste, prefmenuitem, aboutmenuitem, writeitem, finditem, deleteSameitem, openitem}) {
            a->setEnabled(false);
        }
    }
}

// ---- Jobs -----------------------------------------------------------------------

void mainWindow::enqueue(std::unique_ptr<Job> job) {
    m_queue.push_back(std::move(job));
    if (!m_current && !m_holdQueue) {
        startNextJob();
    }
}

int mainWindow::queuedSources() const {
    int count = 0;
    for (const auto& job : m_queue) {
        count += job->isExtraction() ? 1 : 0;
    }
    return count;
}

void mainWindow::dropQueue() {
    m_queue.clear();
}

void mainWindow::startNextJob() {
    if (m_queue.empty()) {
        emit jobsIdle();
        return;
    }
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    connect(m_current.get(), &Job::finished, this, &mainWindow::jobFinished, Qt::QueuedConnection);
    m_current->Run();
}

void mainWindow::jobFinished() {
    // The job object is released here, after its run and its end steps.
    m_current.reset();
    startNextJob();
}

void mainWindow::whenListReady(std::function<void()> fn) {
    if (m_listOut) {
        m_deferred.push_back(std::move(fn));
        return;
    }
    fn();
}

RowList mainWindow::checkOutRows() {
    m_rowsOut = AddressBox1.ListCount();
    m_listOut = true;
    return AddressBox1.takeRows();
}

void mainWindow::checkInRows(RowList rows) {
    m_listOut = false;
    m_rowsOut = 0;
    AddressBox1.putRows(std::move(rows));
}

void mainWindow::runDeferred() {
    while (!m_deferred.empty() && !m_listOut) {
        std::function<void()> fn = std::move(m_deferred.front());
        m_deferred.erase(m_deferred.begin());
        fn();
    }
    EnableMenuItems();
}

std::int64_t mainWindow::rowCount() const {
    return m_listOut ? m_rowsOut : AddressBox1.ListCount();
}

// ---- Accessor -------------------------------------------------------------------

mainWindow* win::mainWindow() {
    if (g_mainWindow.isNull()) {
        g_mainWindow = new quillon::mainWindow(g_services);
        g_mainWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    return g_mainWindow.data();
}

void win::setMainWindowServices(Services* services) {
    g_services = services;
}

} // namespace quillon
