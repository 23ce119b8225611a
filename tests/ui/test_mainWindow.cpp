#include "support/ui_fakes.h"
#include "support/ui_window.h"

#include "list/qt/addressModel.h"
#include "list/qt/addressView.h"
#include "ui/App.h"
#include "ui/confirmWindow.h"
#include "ui/errorText.h"
#include "ui/mainWindow.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using quillon::App;
using quillon::mainWindow;
using quillon::Settings;
using quillon::test::column;
using quillon::test::FakeServices;
using quillon::test::waitIdle;
using quillon::test::writeFile;

namespace {

void useSettings(bool dedupe, bool sort, bool check, const std::string& filter = {}, bool inList = true) {
    App& app = *quillon::win::App();
    app.prefN[1] = dedupe ? Settings::kDeleteOn : Settings::kDeleteOff;
    app.prefN[2] = sort ? Settings::kSortOn : Settings::kSortOff;
    app.prefN[3] = check ? Settings::kCheckOn : Settings::kCheckOff;
    app.prefN[4] = Settings::kLayoutLine;
    app.prefN[5] = 10;
    app.deriveSwitches();
    app.filterString = filter;
    app.inList = inList;
    app.shiwake();
    app.inEncoding = quillon::Encoding::ShiftJIS;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        useSettings(true, true, true);
    }

    void creationState() {
        FakeServices fake;
        mainWindow w(&fake);
        QCOMPARE(w.windowTitle(), QStringLiteral("Quillon"));
        QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
        QCOMPARE(w.listCountText->text(), QStringLiteral("---"));
        QVERIFY(w.statasText->text().startsWith(QStringLiteral("上のフィールドにファイルをドロップするか")));
        QVERIFY(w.writeButton->isHidden());
        QVERIFY(w.ProgressBar1->isHidden());
        QVERIFY(!w.ayashiiButton->isEnabled());
        QVERIFY(!w.deleteButton->isEnabled());
        QVERIFY(w.clearButton->isEnabled());
        QVERIFY(w.encButton[0]->isChecked());
        QVERIFY(!w.encButton[3]->isEnabled());
        QVERIFY(w.stop);
        QCOMPARE(w.CRLF, QString(QChar(13)));
        QCOMPARE(quillon::win::App()->inEncoding, quillon::Encoding::ShiftJIS);
        QCOMPARE(
            w.openButton->toolTip(),
            QStringLiteral("Openと書いてあるときはファイルを開きます。また、STOPと書いてあるときは処理を中止します。"));
        QCOMPARE(w.AddressBox1View->toolTip(), QStringLiteral("ここにファイルをドロップしてください"));
        auto* model = w.AddressBox1View->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("削除"));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("アドレス"));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("ドメイン"));
    }

    void encodingButtonsSetTheChoice() {
        FakeServices fake;
        mainWindow w(&fake);
        w.encButton[4]->click();
        QCOMPARE(quillon::win::App()->inEncoding, quillon::Encoding::ISO2022JP);
        w.encButton[1]->click();
        QCOMPARE(quillon::win::App()->inEncoding, quillon::Encoding::EucJP);
        w.encButton[2]->click();
        QCOMPARE(quillon::win::App()->inEncoding, quillon::Encoding::UTF8);
        w.encButton[3]->click(); // disabled: the guess cannot be chosen
        QCOMPARE(quillon::win::App()->inEncoding, quillon::Encoding::UTF8);
        QVERIFY(w.encButton[2]->isChecked());
    }

    void menuStatesFollowStopAndRows() {
        FakeServices fake;
        mainWindow w(&fake);
        w.EnableMenuItems();
        QVERIFY(w.openitem->isEnabled());
        QVERIFY(!w.writeitem->isEnabled());
        QVERIFY(w.closeitem->isEnabled());
        QVERIFY(w.prefmenuitem->isEnabled());
        QVERIFY(w.FileQuit->isEnabled());
        QVERIFY(!w.EditCut->isEnabled());
        QVERIFY(!w.EditCopy->isEnabled());
        QVERIFY(w.EditPaste->isEnabled());
        QVERIFY(!w.finditem->isEnabled());
        QVERIFY(!w.deleteSameitem->isEnabled());
        QVERIFY(w.aboutmenuitem->isEnabled());

        w.AddressBox1.addAddress("a@example.com", 1);
        QVERIFY(w.writeitem->isEnabled());
        QVERIFY(w.finditem->isEnabled());
        QVERIFY(w.deleteSameitem->isEnabled());

        w.setStop(false);
        for (QAction* a :
             {w.openitem, w.writeitem, w.prefmenuitem, w.EditPaste, w.finditem, w.deleteSameitem, w.aboutmenuitem}) {
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        }
        QVERIFY(w.FileQuit->isEnabled());
        QVERIFY(w.closeitem->isEnabled());
        w.setStop(true);
        QVERIFY(w.openitem->isEnabled());

        QCOMPARE(w.openitem->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
        QCOMPARE(w.EditPaste->shortcut(), QKeySequence(QStringLiteral("Ctrl+V")));
        QCOMPARE(w.deleteSameitem->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));
    }

    void fullRunShowsTheStatusesInOrder() {
        useSettings(true, true, true, "blocked@spam.example");
        const QString path = m_dir->filePath(QStringLiteral("a.txt"));
        QVERIFY(writeFile(path, "to zed@b.jp and amy@a.com, ZED@B.JP and blocked@spam.example ok"));
        FakeServices fake;
        fake.openAnswers << path;
        mainWindow w(&fake);
        // Batches appended and steps that take the rows out and put them back
        // all keep the model consistent.
        QAbstractItemModelTester tester(w.AddressBox1Model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QStringList statuses;
        connect(&w, &mainWindow::statusChanged, this, [&](const QString& s) { statuses << s; });
        w.openButton->click();
        QVERIFY(waitIdle(w));
        const QStringList expected{QStringLiteral("検索中..."), QStringLiteral("重複アドレスを削除しています..."),
                                   QStringLiteral("並べ替えています。しばらくお待ちください..."),
                                   QStringLiteral("フィルター項目を検索しています"), QStringLiteral("検索完了")};
        QCOMPARE(statuses, expected);
        QCOMPARE(column(w, 1), (QStringList{"amy@a.com", "zed@b.jp", "blocked@spam.example"}));
        QCOMPARE(column(w, 2), (QStringList{"a.com", "b.jp", "spam.example"}));
        // The filter checks its match; the suspicious check marks the unknown ending too.
        QVERIFY(w.AddressBox1.CellCheck(2));
        QVERIFY(!w.AddressBox1.CellCheck(0));
        QCOMPARE(w.listCountText->text(), QStringLiteral("3"));
        QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
        QVERIFY(w.stop);
        QVERIFY(!w.userStopped);
        QVERIFY(!w.writeButton->isHidden());
        QVERIFY(w.ProgressBar1->isHidden());
        QVERIFY(!w.AddressBox1View->isHidden());
        for (int i : {0, 1, 2, 4}) {
            QVERIFY(w.encButton[static_cast<std::size_t>(i)]->isEnabled());
        }
        QVERIFY(!w.encButton[3]->isEnabled());
        QVERIFY(w.ayashiiButton->isEnabled() && w.deleteButton->isEnabled() && w.clearButton->isEnabled());
    }

    void modelIsResetWhenRowsAreTakenOutAndPutBack() {
        quillon::addressBox box;
        quillon::AddressModel model(box);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        box.addAddress("a@x.jp", 1);
        box.addAddress("b@x.jp", 1);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        quillon::RowList rows = box.takeRows();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model.rowCount(), 0);
        rows.pop_back();
        box.putRows(std::move(rows));
        QCOMPARE(resets.count(), 2);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("a@x.jp"));
    }

    void rowsAddUpAcrossSearchesWithoutPostProcessing() {
        useSettings(false, false, false);
        FakeServices fake;
        mainWindow w(&fake);
        w.AddressBox1.addAddress("one@x.jp", 1);
        w.AddressBox1.addAddress("two@x.jp", 1);
        const QString path = m_dir->filePath(QStringLiteral("three.txt"));
        QVERIFY(writeFile(path, "aa@b.com bb@c.com aa@b.com"));
        w.openFile(path);
        QVERIFY(waitIdle(w));
        QCOMPARE(w.AddressBox1.ListCount(), 5);
        QCOMPARE(w.listCountText->text(), QStringLiteral("5"));
    }

    // A source that does not fit the chosen encoding is named on a visible bar
    // above the list, with the encoding it seems to be in; the bar's button
    // reads it again in that encoding and the right rows replace the wrong
    // ones. Each address cell tells where the address was found.
    void mismatchedSourceIsNamedAndReadAgain() {
        FakeServices fake;
        mainWindow w(&fake);
        const QString good = m_dir->filePath(QStringLiteral("sjis.txt"));
        QVERIFY(writeFile(good, "\x92\x53\x93\x96 first@ok.jp\n")); // 担当 in Shift_JIS
        const QString bad = m_dir->filePath(QStringLiteral("utf8.txt"));
        QVERIFY(writeFile(bad, QStringLiteral("メール：hanako@example.jp\n連絡先：taro@example.co.jp\n").toUtf8()));
        // An mbox whose bodies name no charset: its messages are read again too.
        const QString mbox = m_dir->filePath(QStringLiteral("mails.mbox"));
        QVERIFY(writeFile(
            mbox, QStringLiteral("From a Mon Jan  1 00:00:00 2024\nFrom: one@mbox.jp\n\nメール：hanako@mbox.jp\n"
                                 "From b Mon Jan  1 00:00:00 2024\nFrom: two@mbox.jp\n\nメール：hanako2@mbox.jp\n")
                      .toUtf8()));
        w.openFile(good);
        w.openFile(bad);
        w.openFile(mbox);
        QVERIFY(waitIdle(w));
        QCOMPARE(w.statasText->text(), QStringLiteral("検索完了"));
        QVERIFY(column(w, 1).contains(QStringLiteral("anako@example.jp")));
        QVERIFY(w.encodingBar->isVisibleTo(&w));
        QVERIFY(w.encodingBar->geometry().bottom() < w.AddressBox1View->geometry().top());
        const QString says = w.encodingBar->message->text();
        QVERIFY2(says.contains(QStringLiteral("utf8.txt")) && says.contains(QStringLiteral("UTF-8")) &&
                     says.contains(QStringLiteral("mails.mbox")) && !says.contains(QStringLiteral("sjis.txt")),
                 qPrintable(says));
        QCOMPARE(w.encodingBar->accessibleDescription(), says);
        QVERIFY(w.encodingBar->rereadButton->isVisibleTo(&w));

        const auto tooltipOf = [&](const QString& address) {
            const int row = static_cast<int>(column(w, 1).indexOf(address));
            return w.AddressBox1Model->index(row, 1).data(Qt::ToolTipRole).toString();
        };
        QVERIFY2(tooltipOf(QStringLiteral("first@ok.jp")).contains(good), qPrintable(tooltipOf("first@ok.jp")));

        QTest::mouseClick(w.encodingBar->rereadButton, Qt::LeftButton);
        QVERIFY(waitIdle(w));
        QStringList found = column(w, 1);
        found.sort();
        QCOMPARE(found, QStringList({QStringLiteral("first@ok.jp"), QStringLiteral("hanako2@mbox.jp"),
                                     QStringLiteral("hanako@example.jp"), QStringLiteral("hanako@mbox.jp"),
                                     QStringLiteral("one@mbox.jp"), QStringLiteral("taro@example.co.jp"),
                                     QStringLiteral("two@mbox.jp")}));
        QVERIFY(w.encodingBar->isHidden());
        QVERIFY(tooltipOf(QStringLiteral("hanako@example.jp")).contains(bad));
        QVERIFY2(tooltipOf(QStringLiteral("hanako2@mbox.jp")).contains(mbox + QStringLiteral(" (message 2)")),
                 qPrintable(tooltipOf("hanako2@mbox.jp")));
        QCOMPARE(w.listCountText->text(), QStringLiteral("7"));
    }

    void cancelledOpenDialogChangesNothing() {
        FakeServices fake;
        fake.openAnswers << QString();
        mainWindow w(&fake);
        const QString before = w.statasText->text();
        w.openButton->click();
        QCOMPARE(fake.openCalls.size(), 1);
        QVERIFY(!w.jobRunning());
        QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
        QCOMPARE(w.statasText->text(), before);
    }

    void stopDuringTheScanKeepsRowsAndSkipsDuplicateRemoval() {
        useSettings(true, false, false);
        // Every address twice in a row: whatever part is scanned holds duplicates.
        QByteArray text;
        for (int i = 0; i < 400000; ++i) {
            const QByteArray a = "user" + QByteArray::number(i) + "@example.com ";
            text += a + a;
        }
        const QString path = m_dir->filePath(QStringLiteral("big.txt"));
        QVERIFY(writeFile(path, text));
        FakeServices fake;
        mainWindow w(&fake);
        bool pressed = false;
        connect(w.AddressBox1Model, &QAbstractItemModel::rowsInserted, this, [&] {
            if (!pressed) {
                pressed = true;
                QCOMPARE(w.openButton->text(), QStringLiteral("STOP"));
                w.openButton_Action();
                QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
            }
        });
        w.openFile(path);
        QVERIFY(waitIdle(w, 60000));
        QVERIFY(pressed);
        QCOMPARE(w.statasText->text(), QStringLiteral("処理は中止されました"));
        QVERIFY(w.AddressBox1.ListCount() >= 2);
        QCOMPARE(w.AddressBox1.Cell(0, 1), w.AddressBox1.Cell(1, 1)); // duplicates not removed
        QVERIFY(!w.userStopped);
        QVERIFY(w.stop);
    }

    void folderOfFilesAndSubFolder() {
        useSettings(false, true, false);
        QDir root(m_dir->path());
        QVERIFY(root.mkpath(QStringLiteral("drop/sub")));
        QVERIFY(writeFile(root.filePath(QStringLiteral("drop/one.txt")), "aa@one.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("drop/two.txt")), "bb@two.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("drop/sub/three.txt")), "cc@three.jp"));
        QVERIFY(writeFile(root.filePath(QStringLiteral("drop/.hidden.txt")), "dd@hidden.jp"));
        // A link back to the folder itself must not be walked forever.
        QVERIFY(::symlink(qPrintable(root.filePath(QStringLiteral("drop"))),
                          qPrintable(root.filePath(QStringLiteral("drop/sub/loop")))) == 0);
        FakeServices fake;
        mainWindow w(&fake);
        w.AddressBox1_DropObject(root.filePath(QStringLiteral("drop")));
        QVERIFY(waitIdle(w));
        QCOMPARE(column(w, 1), (QStringList{"aa@one.jp", "cc@three.jp", "bb@two.jp"}));
        QCOMPARE(w.statasText->text(), QStringLiteral("検索完了"));
    }

    void unreadableFileRestoresTheIdleState() {
        const QString fifo = m_dir->filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(qPrintable(fifo), 0600) == 0);
        FakeServices fake;
        mainWindow w(&fake);
        w.openFile(fifo);
        QVERIFY(waitIdle(w));
        QVERIFY(w.statasText->text().contains(QStringLiteral("pipe")));
        QVERIFY(w.statasText->text().contains(QStringLiteral("読み込めませんでした")));
        QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
        QVERIFY(w.stop);
        QVERIFY(!w.AddressBox1View->isHidden());
        QVERIFY(w.encButton[0]->isEnabled());
    }

    void queuedSourcesAllFinish() {
        useSettings(true, false, false);
        FakeServices fake;
        mainWindow w(&fake);
        for (int i = 0; i < 5; ++i) {
            const QString path = m_dir->filePath(QStringLiteral("f%1.txt").arg(i));
            QVERIFY(writeFile(path, "same@x.jp other" + QByteArray::number(i) + "@x.jp"));
            w.openFile(path);
        }
        QVERIFY(waitIdle(w));
        QCOMPARE(w.AddressBox1.ListCount(), 6); // one "same" and five others
        QCOMPARE(w.statasText->text(), QStringLiteral("検索完了"));
    }

    void clipboardSearchMatchesAFile() {
        useSettings(false, false, false);
        FakeServices fake;
        fake.clipboard = QStringLiteral("メール: 山田 yamada@example.jp まで &#64; x ab&#64;cd.com");
        fake.clipboardHasText = true;
        mainWindow w(&fake);
        w.EditPaste->trigger();
        QVERIFY(waitIdle(w));
        QCOMPARE(column(w, 1), (QStringList{"yamada@example.jp", "ab@cd.com"}));
        QVERIFY(w.AddressBox1Model->index(1, 1)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("クリップボード")));
        QVERIFY(w.encodingBar->isHidden()); // clipboard text is always read right
        fake.clipboardHasText = false;
        w._EditPaste_Action();
        QVERIFY(!w.jobRunning());
    }

    void clearAndDeleteDialogs() {
        FakeServices fake;
        mainWindow w(&fake);
        for (const char* a : {"a@x.jp", "b@x.jp", "c@x.jp", "d@x.jp", "e@x.jp"}) {
            w.AddressBox1.addAddress(a, 1);
        }
        for (int r : {0, 2, 3}) {
            w.AddressBox1.setCellCheck(r, true);
        }
        QString question;
        fake.onDialog = [&](QDialog* d) {
            auto* c = qobject_cast<quillon::confirmWindow*>(d);
            QVERIFY(c != nullptr);
            question = c->StaticText1->text();
            c->PushButton2->click();
        };
        w.clearButton->click();
        QCOMPARE(question, QStringLiteral("リストをすべて削除してもよろしいですか？"));
        QCOMPARE(w.AddressBox1.ListCount(), 5);
        w.ayashiiButton->setEnabled(true);
        w.deleteButton->setEnabled(true);
        w.deleteButton->click();
        QCOMPARE(question, QStringLiteral("チェックされたアドレスを削除してもよろしいですか？"));
        QCOMPARE(w.AddressBox1.ListCount(), 5);

        fake.onDialog = [](QDialog* d) { qobject_cast<quillon::confirmWindow*>(d)->PushButton1->click(); };
        w.deleteButton->click();
        QCOMPARE(column(w, 1), (QStringList{"b@x.jp", "e@x.jp"}));
        QCOMPARE(w.listCountText->text(), QStringLiteral("2"));
        w.clearButton->click();
        QCOMPARE(w.AddressBox1.ListCount(), 0);
        QCOMPARE(w.listCountText->text(), QStringLiteral("---"));
        QCOMPARE(fake.dialogs, 4);
    }

    void nextCheckedRowWalk() {
        FakeServices fake;
        mainWindow w(&fake);
        for (int i = 0; i < 6; ++i) {
            w.AddressBox1.addAddress("r" + std::to_string(i) + "@x.jp", 1);
        }
        // The first and the last row are visited too, each once per walk.
        for (int row : {0, 2, 5}) {
            w.AddressBox1.setCellCheck(row, true);
        }
        w.ayashiiButton->setEnabled(true);
        for (int walk = 1; walk <= 2; ++walk) {
            for (int row : {0, 2, 5}) {
                w.ayashiiButton->click();
                QCOMPARE(w.AddressBox1.ScrollPosition(), row);
                QCOMPARE(w.ayashiiButton->text(), QStringLiteral("次へ"));
            }
            QCOMPARE(fake.messages.size(), walk - 1);
            w.ayashiiButton->click();
            QCOMPARE(fake.messages.size(), walk);
            QCOMPARE(fake.messages.last(), QStringLiteral("以上です"));
            QCOMPARE(w.AddressBox1.ScrollPosition(), 0);
            QCOMPARE(w.ayashiiButton->text(), QStringLiteral("チェック項目へ"));
        }
    }

    void editingAnAddressUpdatesItsDomain() {
        FakeServices fake;
        mainWindow w(&fake);
        for (int i = 0; i < 4; ++i) {
            w.AddressBox1.addAddress("r" + std::to_string(i) + "@x.jp", 1);
        }
        auto* model = w.AddressBox1View->model();
        QVERIFY(model->setData(model->index(3, 1), QStringLiteral("someone@example.org"), Qt::EditRole));
        QCOMPARE(w.AddressBox1.Cell(3, 2), std::string("example.org"));
        QVERIFY(model->setData(model->index(3, 1), QStringLiteral("no at sign"), Qt::EditRole));
        QCOMPARE(w.AddressBox1.Cell(3, 2), std::string());
        QVERIFY(!(model->flags(model->index(3, 2)) & Qt::ItemIsEditable));
        QVERIFY(model->flags(model->index(3, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(w.AddressBox1.CellCheck(1));
    }

    void duplicateRemovalCommand() {
        FakeServices fake;
        mainWindow w(&fake);
        for (const char* a : {"A@x.jp", "b@x.jp", "a@x.jp", "B@x.jp", "a@X.jp"}) {
            w.AddressBox1.addAddress(a, 1);
        }
        w.deleteSameitem->trigger();
        QVERIFY(waitIdle(w));
        QCOMPARE(column(w, 1), (QStringList{"A@x.jp", "b@x.jp"}));
        QCOMPARE(w.listCountText->text(), QStringLiteral(" 2"));
        QCOMPARE(w.statasText->text(), QStringLiteral("完了"));
        QVERIFY(!w.AddressBox1View->isHidden());
        QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
    }

    void suspiciousCheckFromTheMenu() {
        FakeServices fake;
        mainWindow w(&fake);
        w.AddressBox1.addAddress("a@example.jp", 1);
        w.AddressBox1.addAddress("b@example.co.uk", 1);
        QVERIFY(!w._finditem_Action());
        QVERIFY(!w.AddressBox1.CellCheck(0));
        QVERIFY(w.AddressBox1.CellCheck(1));
        QVERIFY(w.AddressBox1.Selected(1));
        QVERIFY(!w.AddressBox1.Selected(0));
        // The view reports the same selection, and what the user selects
        // becomes the list's selection.
        QItemSelectionModel* selection = w.AddressBox1View->selectionModel();
        QVERIFY(selection->isRowSelected(1, {}));
        QVERIFY(!selection->isRowSelected(0, {}));
        w.AddressBox1View->selectRow(0);
        QVERIFY(w.AddressBox1.Selected(0));
        QVERIFY(!w.AddressBox1.Selected(1));
    }

    void exportWritesTheChosenLayoutInShiftJis() {
        FakeServices fake;
        mainWindow w(&fake);
        for (const char* a : {"a@x.jp", "b@x.jp", "c@x.jp"}) {
            w.AddressBox1.addAddress(a, 1);
        }
        w.AddressBox1.setCellCheck(1, true);
        auto* model = w.AddressBox1View->model();
        QVERIFY(model->setData(model->index(2, 1), QStringLiteral("山田@x.jp"), Qt::EditRole));
        const QString path = m_dir->filePath(QStringLiteral("out.txt"));
        QVERIFY(writeFile(path, "an older and much longer content that must go away entirely"));

        App& app = *quillon::win::App();
        app.prefN[4] = 14;
        app.prefN[5] = 2;
        app.needYohaku = true;
        fake.saveAnswers << path;
        w.writeitem->trigger();
        QCOMPARE(fake.saveProposals, QStringList{QStringLiteral("Untitled.txt")});
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("a@x.jp,b@x.jp\r\r\x8e\x52\x93\x63@x.jp"));
        f.close();

        app.prefN[4] = 4;
        fake.saveAnswers << path;
        w.write();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("a@x.jp\rb@x.jp\r\x8e\x52\x93\x63@x.jp\r"));
        f.close();
        QVERIFY(fake.warnings.isEmpty());
        app.needYohaku = false;
    }

    void exportCancelledOrUnknownLayoutWritesNothing() {
        FakeServices fake;
        mainWindow w(&fake);
        w.write(); // empty list: no dialog
        QVERIFY(fake.saveProposals.isEmpty());
        w.AddressBox1.addAddress("a@x.jp", 1);
        w.write(); // cancelled
        QCOMPARE(fake.saveProposals.size(), 1);
        App& app = *quillon::win::App();
        app.prefN[4] = 5;
        const QString path = m_dir->filePath(QStringLiteral("none.txt"));
        QVERIFY(fake.warnings.isEmpty());
        fake.saveAnswers << path;
        w.write();
        QVERIFY(!QFile::exists(path));
        // ... and says so, naming the value.
        QCOMPARE(fake.warnings.size(), 1);
        QVERIFY2(fake.warnings.front().contains(QStringLiteral("形式 5 ")), qPrintable(fake.warnings.front()));
        app.prefN[4] = 4;
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    void failedExportsAreToldInJapanese() {
        const QString fifo = m_dir->filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(qPrintable(fifo), 0600) == 0);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub")));
        const struct {
            QString path;
            QString reason;
            int err;
        } cases[] = {
            {m_dir->filePath(QStringLiteral("missing/out.txt")), QStringLiteral("見つかりません"), ENOENT},
            {m_dir->filePath(QString(300, QLatin1Char('n'))), QStringLiteral("ファイル名が長すぎます"), ENAMETOOLONG},
            {fifo, QStringLiteral("読み出すプログラムがありません"), ENXIO}, // and does not wait for one
            {QStringLiteral("/dev/full"), QStringLiteral("空き容量が足りません"), ENOSPC},
            {m_dir->filePath(QStringLiteral("sub")), QStringLiteral("フォルダーがあります"), EISDIR},
        };
        for (const auto& c : cases) {
            FakeServices fake;
            mainWindow w(&fake);
            w.AddressBox1.addAddress("a@x.jp", 1);
            quillon::win::App()->prefN[4] = 4;
            fake.saveAnswers << c.path;
            w.write();
            QCOMPARE(fake.warnings.size(), 1);
            const QString& text = fake.warnings.front();
            QVERIFY2(text.contains(c.path) && text.contains(QStringLiteral("書き出せませんでした")) &&
                         text.contains(c.reason),
                     qPrintable(text));
            QVERIFY2(!text.contains(QString::fromLocal8Bit(std::strerror(c.err))), qPrintable(text));
        }
        QVERIFY(QFileInfo(fifo).exists() && QFileInfo(m_dir->filePath(QStringLiteral("sub"))).isDir());

        // The causes that cannot be made here are told apart as well.
        QStringList seen;
        for (int err : {EACCES, ENOSPC, EDQUOT, EROFS, ENOENT, ENAMETOOLONG, ENXIO, EPIPE, EISDIR, ENOTDIR, EIO, 0}) {
            const QString text = quillon::systemErrorText(err);
            QVERIFY2(!text.contains(QString::fromLocal8Bit(std::strerror(err))) && !seen.contains(text),
                     qPrintable(text));
            seen << text;
        }
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QUILLON_UI_TEST_MAIN(TestMainWindow)
#include "test_mainWindow.moc"
