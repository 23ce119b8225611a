// The windows as people use them: with a screen reader, by dropping several
// items (also during a search), with the keyboard, and reading long messages.
#include "support/ui_fakes.h"
#include "support/ui_window.h"

#include "list/qt/addressView.h"
#include "ui/App.h"
#include "ui/aboutWindow.h"
#include "ui/confirmWindow.h"
#include "ui/fitLabel.h"
#include "ui/mainWindow.h"
#include "ui/prefWindow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QUrl>

using quillon::mainWindow;
using quillon::test::addresses;
using quillon::test::FakeServices;
using quillon::test::waitIdle;
using quillon::test::writeFile;

namespace {

void plainSettings() {
    quillon::App& app = *quillon::win::App();
    app.prefN[1] = 3; // no duplicate removal
    app.prefN[2] = 7; // no sorting
    app.prefN[3] = 4; // no check
    app.deriveSwitches();
    app.filterString.clear();
    app.shiwake();
    app.inEncoding = quillon::Encoding::UTF8;
}

// True when a panel around `c` (other than a tab page) is hidden: a screen
// reader does not see `c` then.
bool insideHiddenPanel(QWidget* c, QWidget* window) {
    for (QWidget* p = c->parentWidget(); p != nullptr && p != window; p = p->parentWidget()) {
        if (p->isHidden() && qobject_cast<QStackedWidget*>(p->parentWidget()) == nullptr) {
            return true;
        }
    }
    return false;
}

// Drops `paths` where a mouse would let go at `pos` of `window`: on the widget
// there that takes drops, or the nearest parent that does.
bool dropAt(QWidget* window, QPoint pos, const QStringList& paths) {
    QWidget* target = window->childAt(pos);
    if (target == nullptr) {
        target = window;
    }
    while (target != nullptr && !target->acceptDrops()) {
        target = target->parentWidget();
    }
    if (target == nullptr) {
        return false;
    }
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) {
        urls << QUrl::fromLocalFile(p);
    }
    data.setUrls(urls);
    // A scroll area takes drops through its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(target)) {
        target = area->viewport();
    }
    const QPointF at = target->mapFrom(window, pos);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace

class TestWindowUse : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        plainSettings();
    }

    void everyControlIsNamedAndEveryLabelReadsItsText() {
        FakeServices fake;
        mainWindow w(&fake);
        quillon::prefWindow pref;
        quillon::confirmWindow confirm(w);
        quillon::aboutWindow about;
        for (QWidget* window : std::initializer_list<QWidget*>{&w, &pref, &confirm, &about}) {
            for (QWidget* c : window->findChildren<QWidget*>()) {
                if (c->objectName().isEmpty() || c->objectName().startsWith(QLatin1String("qt_"))) {
                    continue; // the parts Qt makes itself
                }
                QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(c);
                QVERIFY(iface != nullptr);
                const QString what = window->objectName() + QLatin1Char('.') + c->objectName();
                if (auto* label = qobject_cast<QLabel*>(c); label != nullptr && label->pixmap().isNull()) {
                    // Whatever a label comes to say is what is read out.
                    const QString text = QStringLiteral("読み上げの確認 ") + what;
                    label->setText(text);
                    QVERIFY2(iface->text(QAccessible::Name).contains(text) ||
                                 iface->text(QAccessible::Description).contains(text),
                             qPrintable(what));
                } else if (insideHiddenPanel(c, window)) {
                    continue; // named when its panel is shown with something to say
                } else if (qobject_cast<QLabel*>(c) || qobject_cast<QAbstractButton*>(c) ||
                           qobject_cast<QLineEdit*>(c) || qobject_cast<QPlainTextEdit*>(c) ||
                           qobject_cast<QProgressBar*>(c) || qobject_cast<QGroupBox*>(c) ||
                           qobject_cast<QAbstractItemView*>(c)) {
                    QVERIFY2(!iface->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(what));
                }
            }
        }
    }

    void dropsSearchEveryItemInOrderAlsoDuringASearch() {
        QDir root(m_dir->path());
        QVERIFY(root.mkdir(QStringLiteral("folder")));
        QVERIFY(writeFile(root.filePath(QStringLiteral("aa.txt")), "aa@a.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("bb.txt")), "bb@b.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("folder/cc1.txt")), "cc1@c.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("folder/cc2.txt")), "cc2@c.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("ee.txt")), "ee@e.jp"));
        FakeServices fake;
        mainWindow w(&fake);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QPoint onList = w.AddressBox1View->mapTo(&w, w.AddressBox1View->rect().center());

        QStringList shown;
        connect(&w, &mainWindow::sourceFieldChanged, this, [&](const QString& text) { shown << text; });
        bool second = false;
        connect(&w, &mainWindow::statusChanged, this, [&](const QString& status) {
            if (!second && status == QStringLiteral("検索中...")) {
                // The list is hidden now: the drop lands on the window and waits its turn.
                QVERIFY(w.AddressBox1View->isHidden());
                second = dropAt(&w, onList, {root.filePath(QStringLiteral("ee.txt")), root.filePath("gone.txt")});
            }
        });
        QVERIFY(dropAt(&w, onList,
                       {root.filePath(QStringLiteral("bb.txt")), root.filePath(QStringLiteral("folder")),
                        root.filePath(QStringLiteral("aa.txt"))}));
        QVERIFY(waitIdle(w));
        QVERIFY(second);
        QCOMPARE(addresses(w), (QStringList{"bb@b.jp", "cc1@c.jp", "cc2@c.jp", "aa@a.jp", "ee@e.jp"}));
        QVERIFY(w.statasText->text().startsWith(QStringLiteral("検索完了")));
        QVERIFY(w.statasText->text().contains(QStringLiteral("gone.txt")));

        // Which file of how many is being read (each source at least as it
        // ends), then how many were read and how many not.
        const QStringList expected{"1 / 1  bb.txt",   "2 / 2  cc2.txt",
                                   "1 / 1  aa.txt",   "1 / 1  ee.txt",
                                   "1 / 1  gone.txt", "読み込んだファイル 5 件、読み込めなかったファイル 1 件"};
        qsizetype from = 0;
        for (const QString& text : expected) {
            from = shown.indexOf(text, from);
            QVERIFY2(from >= 0, qPrintable(text + QStringLiteral(" in ") + shown.join(QLatin1Char('|'))));
        }
        QCOMPARE(shown.last(), expected.last());
        // A screen reader reads all three.
        auto heard = [](QWidget* c) { return QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name); };
        QCOMPARE(heard(w.sourceProgressText), shown.last());
        QCOMPARE(heard(w.statasText), w.statasText->text());
        QCOMPARE(heard(w.listCountText), QStringLiteral("5"));
        QVERIFY(w.sourceProgressText->toolTip().contains(QStringLiteral("gone.txt")));
    }

    void copyAndSelectAllRowsWithTheKeys() {
        FakeServices fake;
        mainWindow w(&fake);
        for (int i = 0; i < 4; ++i) {
            w.AddressBox1.addAddress("r" + std::to_string(i) + "@x.jp", 1);
        }
        w.setbuttonON();
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QAbstractItemView* view = w.AddressBox1View;
        view->setFocus();
        view->selectionModel()->select(view->model()->index(1, 1),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(view->model()->index(3, 1),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(fake.clipboard, QStringLiteral("r1@x.jp\nr3@x.jp"));

        // Ctrl+A selects every row wherever the focus is; the menu's コピー copies them.
        w.clearButton->setFocus();
        QTest::keyClick(w.clearButton, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(w.EditCopy->isEnabled());
        w.EditCopy->trigger();
        QCOMPARE(fake.clipboard, QStringLiteral("r0@x.jp\nr1@x.jp\nr2@x.jp\nr3@x.jp"));

        // In the cell editor the keys act on the text being edited.
        fake.clipboard.clear();
        view->edit(view->model()->index(2, 1));
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor != nullptr);
        editor->deselect();
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(editor->selectedText(), QStringLiteral("r2@x.jp"));
        QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(fake.clipboard.isEmpty());
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("r2@x.jp"));

        // Nothing to copy while a job has the list.
        w.setbuttonOFF();
        QVERIFY(!w.EditCopy->isEnabled());
    }

    void longMessagesAreNeverCutOff() {
        FakeServices fake;
        mainWindow w(&fake);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString text =
            QStringLiteral("初期設定ファイルを読み書きできませんでした（初期値で動作します）: "
                           "「/home/someone/.config/Quillon/Quillon.prefs」: アクセスする権限がありません");
        w.setStatus(text);
        auto* label = qobject_cast<quillon::FitLabel*>(w.statasText);
        QVERIFY(label != nullptr);
        QVERIFY(label->isElided()); // too long for the line at the window's size
        QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), text);
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(label, &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY(QToolTip::text().contains(text));
        QToolTip::hideText();

        w.setStatus(QStringLiteral("検索完了"));
        QVERIFY(!label->isElided());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QUILLON_UI_TEST_MAIN(TestWindowUse)
#include "test_windowUse.moc"
