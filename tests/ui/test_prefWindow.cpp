#include "support/ui_fakes.h"

#include "ui/App.h"
#include "ui/aboutWindow.h"
#include "ui/confirmWindow.h"
#include "ui/mainWindow.h"
#include "ui/prefWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cerrno>
#include <cstring>

using quillon::App;
using quillon::prefWindow;
using quillon::Settings;
using quillon::test::FakeServices;

namespace {

App& app() {
    return *quillon::win::App();
}

QByteArray prefBytes() {
    QFile f(QString::fromStdString(app().prefStore().filePath().string()));
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

void setCodes(int dedupe, int sort, int check, int layout, int n) {
    app().prefN[1] = dedupe;
    app().prefN[2] = sort;
    app().prefN[3] = check;
    app().prefN[4] = layout;
    app().prefN[5] = n;
    app().deriveSwitches();
}

} // namespace

class TestPrefWindow : public QObject {
    Q_OBJECT

private slots:
    void init() {
        setCodes(12, 9, 8, 4, 10);
        app().filterString.clear();
        app().inList = true;
        app().needYohaku = false;
        app().settei();
    }

    void layoutOptionsOnOpening_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("selected"); // -1: none
        QTest::newRow("one per line") << 4 << 0;
        QTest::newRow("one line") << 6 << 1;
        QTest::newRow("n per line") << 14 << 2;
        QTest::newRow("other code") << 5 << -1;
    }

    void layoutOptionsOnOpening() {
        QFETCH(int, code);
        QFETCH(int, selected);
        setCodes(12, 9, 8, code, 7);
        prefWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("初期設定"));
        QCOMPARE(w.TabPanel1->currentIndex(), 0);
        QCOMPARE(w.TabPanel1->tabText(0), QStringLiteral("書き出し/検索設定"));
        QCOMPARE(w.TabPanel1->tabText(1), QStringLiteral("フィルター設定"));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(w.writeOutButton[static_cast<std::size_t>(i)]->isChecked(), i == selected);
        }
        QCOMPARE(w.EditField1->text(), QStringLiteral("7"));
        QCOMPARE(w.EditField1->isEnabled(), selected == 2);
        QCOMPARE(w.StaticText1->isEnabled(), selected == 2);
        QCOMPARE(w.needYohakubox->isEnabled(), selected == 2);
        // Confirming without choosing keeps an unknown code.
        w.OKbutton->click();
        QCOMPARE(app().prefN[4], code);
    }

    void filterLinesAreStoredWithCommas() {
        {
            prefWindow w;
            w.EditField2->setPlainText(QStringLiteral("a@x.jp\nb@y.jp"));
            w.OKbutton->click();
        }
        QCOMPARE(app().filterString, std::string("a@x.jp,b@y.jp"));
        QCOMPARE(app().addressFilter.size(), std::size_t{3});
        prefWindow again;
        QCOMPARE(again.EditField2->toPlainText(), QStringLiteral("a@x.jp,b@y.jp"));
    }

    void blankLineBoxFollowsTheLayout() {
        prefWindow w;
        w.writeOutButton[2]->click();
        QVERIFY(w.needYohakubox->isEnabled());
        QVERIFY(w.EditField1->isEnabled());
        w.needYohakubox->click();
        QVERIFY(w.needYohakubox->isChecked());
        w.writeOutButton[0]->click();
        QVERIFY(!w.needYohakubox->isChecked());
        QVERIFY(!w.needYohakubox->isEnabled());
        QVERIFY(!w.EditField1->isEnabled());
        w.OKbutton->click();
        QVERIFY(!app().needYohaku);
        QCOMPARE(app().prefN[4], 4);
    }

    void cancelKeepsClickedCodesInMemoryOnly() {
        const QByteArray stored = prefBytes();
        {
            prefWindow w;
            w.prefcheckBox[0]->click();
            QCOMPARE(app().prefN[1], 3);
            w.CancelButton->click();
        }
        QCOMPARE(app().prefN[1], 3);
        QVERIFY(app().isDelet); // the switch keeps its value until a save
        QCOMPARE(prefBytes(), stored);
        prefWindow again;
        QVERIFY(!again.prefcheckBox[0]->isChecked());
    }

    void restoreDefaultsThenConfirm() {
        setCodes(3, 7, 4, 6, 3);
        app().filterString = "keep@me.jp";
        app().inList = false;
        {
            prefWindow w;
            QVERIFY(!w.prefcheckBox[0]->isChecked());
            w.PushButton1->click();
            QCOMPARE(w.EditField1->text(), QStringLiteral("10"));
            w.OKbutton->click();
        }
        QCOMPARE(app().prefN[1], 12);
        QCOMPARE(app().prefN[2], 9);
        QCOMPARE(app().prefN[3], 8);
        QCOMPARE(app().prefN[4], 4);
        QCOMPARE(app().prefN[5], 10);
        QCOMPARE(app().filterString, std::string("keep@me.jp"));
        QVERIFY(!app().inList);
        QVERIFY(app().isDelet && app().isSort && app().isHighLight);
    }

    void restoreDefaultsThenCancelKeepsTheCodes() {
        setCodes(3, 7, 4, 6, 3);
        {
            prefWindow w;
            w.PushButton1->click();
            w.CancelButton->click();
        }
        QCOMPARE(app().prefN[1], 12);
        QCOMPARE(app().prefN[2], 9);
        QCOMPARE(app().prefN[3], 8);
        QCOMPARE(app().prefN[4], 4);
        QCOMPARE(app().prefN[5], 3); // n is taken only on confirmation
    }

    void numberField_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("n");
        QTest::newRow("plain") << "25" << 25;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("fraction") << "10.7" << 10;
        QTest::newRow("trailing text") << "12x" << 12;
        QTest::newRow("negative") << "-3" << -3;
        QTest::newRow("too large") << "99999999999" << 2147483647;
        QTest::newRow("empty") << "" << 0;
    }

    void numberField() {
        QFETCH(QString, text);
        QFETCH(int, n);
        prefWindow w;
        w.writeOutButton[2]->click();
        w.EditField1->setText(text);
        w.OKbutton->click();
        QCOMPARE(app().prefN[5], n);
    }

    void savedFileBytes() {
        prefWindow w;
        w.writeOutButton[2]->click();
        w.EditField1->setText(QStringLiteral("3"));
        w.needYohakubox->click();
        w.RadioButton1->click();
        w.EditField2->setPlainText(QStringLiteral("あいう"));
        w.OKbutton->click();
        QByteArray expected = QByteArray::fromHex("000C0009000800 0E 00000003 0000 03313134 00 00000009");
        expected.append("あいう");
        expected.append('\x01');
        const QByteArray bytes = prefBytes();
        QCOMPARE(bytes.left(12), expected.left(12));
        QCOMPARE(bytes.mid(14, expected.size() - 14), expected.mid(14));
    }

    void tabsSwitchWithTheMouseAndTheKeys() {
        prefWindow w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTabBar* bar = w.TabPanel1->tabBar();
        // The click goes to whatever is on top at the tab's place.
        auto clickAt = [&w](QWidget* from, QPoint pos) {
            const QPoint at = from->mapTo(&w, pos);
            QWidget* target = w.childAt(at);
            QVERIFY(target != nullptr);
            QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&w, at));
        };
        clickAt(bar, bar->tabRect(1).center());
        QCOMPARE(w.TabPanel1->currentIndex(), 1);
        QVERIFY(w.EditField2->isVisible() && !w.prefcheckBox[0]->isVisible());
        clickAt(bar, bar->tabRect(0).center());
        QCOMPARE(w.TabPanel1->currentIndex(), 0);
        QVERIFY(!w.EditField2->isVisible() && w.prefcheckBox[0]->isVisible());

        // The keys work wherever the focus is, also after a click on a control.
        clickAt(w.prefcheckBox[1], QPoint(5, 5));
        QCOMPARE(QApplication::focusWidget(), w.prefcheckBox[1]);
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            int expected;
        } keys[] = {
            {Qt::Key_Tab, Qt::ControlModifier, 1},
            {Qt::Key_Tab, Qt::ControlModifier, 0},
            {Qt::Key_PageDown, Qt::ControlModifier, 1},
            {Qt::Key_PageUp, Qt::ControlModifier, 0},
            {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 1},
            {Qt::Key_PageDown, Qt::ControlModifier, 0},
        };
        for (const auto& k : keys) {
            QTest::keyClick(QApplication::focusWidget(), k.key, k.modifiers);
            QCOMPARE(w.TabPanel1->currentIndex(), k.expected);
        }
        for (QWidget* field : {static_cast<QWidget*>(w.EditField1), static_cast<QWidget*>(w.EditField2)}) {
            w.TabPanel1->setCurrentIndex(field == w.EditField1 ? 0 : 1);
            w.writeOutButton[2]->click(); // enables n
            field->setFocus();
            QCOMPARE(QApplication::focusWidget(), field);
            QTest::keyClick(field, Qt::Key_PageDown, Qt::ControlModifier);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
            QCOMPARE(w.TabPanel1->currentIndex(), field == w.EditField1 ? 1 : 0);
        }
        w.CancelButton->click();
    }

    void dialogTitlesAreExactlyTheirOwn() {
        // The platform appends the application's display name to each title
        // that does not end with it, whenever a display name was set; with
        // none set, the display name follows the application name.
        const QString name = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        const QString displayName = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(name);
        QCOMPARE(displayName, QStringLiteral("probe"));

        FakeServices fake;
        quillon::mainWindow w(&fake);
        prefWindow pref;
        quillon::confirmWindow confirm(w);
        quillon::aboutWindow about;
        QCOMPARE(w.windowTitle(), QStringLiteral("Quillon"));
        QCOMPARE(pref.windowTitle(), QStringLiteral("初期設定"));
        QCOMPARE(confirm.windowTitle(), QStringLiteral("削除の確認"));
        QCOMPARE(about.windowTitle(), QStringLiteral("Quillonについて"));
    }

    void unsavedSettingsAreToldInJapanese() {
        FakeServices fake;
        quillon::mainWindow w(&fake);
        // A folder where the file should be: it can be neither opened nor replaced.
        const QString file = QString::fromStdString(app().prefStore().filePath().string());
        QVERIFY(QFile::remove(file) && QDir().mkdir(file));
        {
            prefWindow pref;
            pref.OKbutton->click();
        }
        QVERIFY(QDir().rmdir(file));
        QVERIFY(app().settei());
        QCOMPARE(fake.warnings.size(), 1);
        const QString& text = fake.warnings.front();
        QVERIFY2(text.contains(QStringLiteral("設定を保存できませんでした")) && text.contains(file) &&
                     text.contains(QStringLiteral("フォルダー")) &&
                     !text.contains(QString::fromLocal8Bit(std::strerror(EISDIR))),
                 qPrintable(text));
    }

    void aboutWindowShowsTheVersion() {
        FakeServices fake;
        quillon::mainWindow w(&fake);
        w._aboutmenuitem_Action();
        quillon::aboutWindow* about = quillon::win::aboutWindow();
        QCOMPARE(about->windowTitle(), QStringLiteral("Quillonについて"));
        QCOMPARE(about->StaticText5->text(), app().shortVersion());
        QVERIFY(about->StaticText5->text() != QStringLiteral("Version 1.1.2"));
        const auto* licenseText = about->findChild<QLabel*>(QStringLiteral("licenseText"));
        QVERIFY(licenseText != nullptr && licenseText->text().contains(QStringLiteral("MIT")));
        w._aboutmenuitem_Action();
        QCOMPARE(quillon::win::aboutWindow(), about); // the same window again
        about->_closeitem_Action();
        QVERIFY(!about->isVisible());
    }
};

QUILLON_UI_TEST_MAIN(TestPrefWindow)
#include "test_prefWindow.moc"
