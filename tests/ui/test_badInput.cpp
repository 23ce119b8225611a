#include "support/ui_fakes.h"
#include "support/ui_window.h"

#include "list/qt/addressModel.h"
#include "list/qt/addressView.h"
#include "ui/App.h"
#include "ui/mainWindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>

using quillon::App;
using quillon::Encoding;
using quillon::mainWindow;
using quillon::test::addresses;
using quillon::test::FakeServices;
using quillon::test::waitIdle;
using quillon::test::writeFile;

namespace {

void settings(bool dedupe, bool sort, bool check, const std::string& filter = {}) {
    App& app = *quillon::win::App();
    app.prefN[1] = dedupe ? 12 : 3;
    app.prefN[2] = sort ? 9 : 7;
    app.prefN[3] = check ? 8 : 4;
    app.prefN[4] = 4;
    app.deriveSwitches();
    app.filterString = filter;
    app.inList = true;
    app.shiwake();
}

// The window is back in its idle state and nothing waits.
void verifyIdle(const mainWindow& w) {
    QVERIFY(!w.jobRunning());
    QVERIFY(w.stop);
    QVERIFY(!w.userStopped);
    QCOMPARE(w.openButton->text(), QStringLiteral("Open"));
    QVERIFY(!w.AddressBox1View->isHidden());
    QVERIFY(w.clearButton->isEnabled());
    QVERIFY(!w.listCheckedOut());
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        settings(false, false, false);
    }

    void badFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << QByteArray() << int(Encoding::ShiftJIS) << QStringList();
        QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << int(Encoding::ShiftJIS) << QStringList();
        QByteArray binary("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
        for (int i = 0; i < 5000; ++i) {
            binary.append(static_cast<char>((i * 7919) & 0xff));
        }
        binary.append(" hidden@inside.jp ");
        QTest::newRow("binary") << binary << int(Encoding::ShiftJIS) << QStringList{"hidden@inside.jp"};
        QTest::newRow("invalid Shift_JIS") << QByteArray("aa@x.jp \x81\xff\xa0\x80 bb@y.jp") << int(Encoding::ShiftJIS)
                                           << QStringList{"aa@x.jp", "bb@y.jp"};
        QTest::newRow("invalid EUC-JP") << QByteArray("aa@x.jp \xa4\x20\x8e\xff bb@y.jp") << int(Encoding::EucJP)
                                        << QStringList{"aa@x.jp", "bb@y.jp"};
        QTest::newRow("invalid UTF-8") << QByteArray("aa@x.jp \xc3\x28\xff\xe3\x81 bb@y.jp") << int(Encoding::UTF8)
                                       << QStringList{"aa@x.jp", "bb@y.jp"};
        QTest::newRow("invalid ISO-2022-JP") << QByteArray("aa@x.jp \x1b$B\x7f\x7f\x1b(B \x1b$Z bb@y.jp")
                                             << int(Encoding::ISO2022JP) << QStringList{"aa@x.jp", "bb@y.jp"};
        QTest::newRow("cut character at the end")
            << QByteArray("aa@x.jp \xe3\x81") << int(Encoding::UTF8) << QStringList{"aa@x.jp"};
        QTest::newRow("cut Shift_JIS at the end")
            << QByteArray("aa@x.jp \x82") << int(Encoding::ShiftJIS) << QStringList{"aa@x.jp"};
    }

    void badFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, encoding);
        QFETCH(QStringList, expected);
        const QString path = m_dir->filePath(QStringLiteral("input.txt"));
        QVERIFY(writeFile(path, bytes));
        FakeServices fake;
        mainWindow w(&fake);
        w.AddressBox1.addAddress("kept@before.jp", 1);
        quillon::win::App()->inEncoding = static_cast<Encoding>(encoding);
        w.openFile(path);
        QVERIFY(waitIdle(w, 120000));
        verifyIdle(w);
        QCOMPARE(w.statasText->text(), QStringLiteral("検索完了"));
        QCOMPARE(addresses(w), QStringList{"kept@before.jp"} + expected);
        quillon::win::App()->inEncoding = Encoding::ShiftJIS;
    }

    void vanishedFileIsNamedAndLosesNothing() {
        FakeServices fake;
        mainWindow w(&fake);
        w.AddressBox1.addAddress("kept@before.jp", 1);
        w.openFile(m_dir->filePath(QStringLiteral("gone.txt")));
        QVERIFY(waitIdle(w, 120000));
        verifyIdle(w);
        QVERIFY(w.statasText->text().contains(QStringLiteral("gone.txt")));
        QVERIFY(w.statasText->text().contains(QStringLiteral("見つかりません")));
        QCOMPARE(addresses(w), QStringList{"kept@before.jp"});
    }

    void folderWithUnreadableEntriesGoesOn() {
        QDir root(m_dir->path());
        QVERIFY(root.mkpath(QStringLiteral("drop")));
        QVERIFY(writeFile(root.filePath(QStringLiteral("drop/a.txt")), "aa@a.jp"));
        QVERIFY(::mkfifo(qPrintable(root.filePath(QStringLiteral("drop/b.fifo"))), 0600) == 0);
        QVERIFY(writeFile(root.filePath(QStringLiteral("drop/c.txt")), "cc@c.jp"));
        // A link to a file that does not exist.
        QVERIFY(QFile::link(root.filePath(QStringLiteral("drop/nowhere.txt")),
                            root.filePath(QStringLiteral("drop/d.txt"))));
        FakeServices fake;
        mainWindow w(&fake);
        w.openFile(root.filePath(QStringLiteral("drop")));
        QVERIFY(waitIdle(w, 120000));
        verifyIdle(w);
        QCOMPARE(addresses(w), (QStringList{"aa@a.jp", "cc@c.jp"}));
        QVERIFY(w.statasText->text().startsWith(QStringLiteral("検索完了")));
    }

    void manySmallFilesAndADeepTree() {
        QDir root(m_dir->path());
        QVERIFY(root.mkpath(QStringLiteral("many")));
        for (int i = 0; i < 10000; ++i) {
            QVERIFY(writeFile(root.filePath(QStringLiteral("many/%1.txt").arg(i, 5, 10, QLatin1Char('0'))),
                              "u" + QByteArray::number(i) + "@many.jp\n"));
        }
        QString deep = QStringLiteral("deep");
        for (int i = 0; i < 150; ++i) {
            deep += QStringLiteral("/d");
        }
        QVERIFY(root.mkpath(deep));
        QVERIFY(writeFile(root.filePath(deep + QStringLiteral("/end.txt")), "bottom@deep.jp"));

        settings(true, true, true);
        FakeServices fake;
        mainWindow w(&fake);
        w.openFile(root.filePath(QStringLiteral("many")));
        w.openFile(root.filePath(QStringLiteral("deep")));
        QVERIFY(waitIdle(w, 120000));
        verifyIdle(w);
        QCOMPARE(w.AddressBox1.ListCount(), 10001);
        QVERIFY(addresses(w).contains(QStringLiteral("bottom@deep.jp")));
        QCOMPARE(w.listCountText->text(), QStringLiteral("10001"));
    }

    void longLineAndManyAddresses() {
        QByteArray line = "first@start.jp ";
        line += QByteArray(50 << 20, 'a');
        line += " last@end.jp";
        QByteArray many;
        for (int i = 0; i < 200000; ++i) {
            many += "n" + QByteArray::number(i) + "@list.jp ";
        }
        const QString a = m_dir->filePath(QStringLiteral("line.txt"));
        const QString b = m_dir->filePath(QStringLiteral("many.txt"));
        QVERIFY(writeFile(a, line));
        QVERIFY(writeFile(b, many));
        settings(true, true, true);
        FakeServices fake;
        mainWindow w(&fake);
        w.openFile(a);
        w.openFile(b);
        QVERIFY(waitIdle(w, 120000));
        verifyIdle(w);
        QCOMPARE(w.AddressBox1.ListCount(), 200002);
    }

    void clipboardWithoutTextOrWithMuchText() {
        FakeServices fake;
        mainWindow w(&fake);
        fake.clipboardHasText = false; // empty, or an image only
        w._EditPaste_Action();
        QVERIFY(!w.jobRunning());
        QCOMPARE(w.AddressBox1.ListCount(), 0);

        QString big;
        big.reserve(50 << 20);
        big += QStringLiteral("head@clip.jp ");
        while (big.size() < (50 << 20)) {
            big += QStringLiteral("日本語のテキストです。 ");
        }
        big += QStringLiteral(" tail@clip.jp");
        fake.clipboard = big;
        fake.clipboardHasText = true;
        w._EditPaste_Action();
        QVERIFY(waitIdle(w, 120000));
        verifyIdle(w);
        QCOMPARE(addresses(w), (QStringList{"head@clip.jp", "tail@clip.jp"}));
    }

    // STOP, or a second source, at the start of every phase of a job: the
    // window ends idle, nothing is lost, and every source that was accepted
    // is searched.
    void pressAtEveryPhase_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("stopped"); // the press is a STOP (else it opens a file)
        QTest::addColumn<bool>("scanned"); // the first file was scanned before the press
        // STOP as the scan starts: nothing of the file has been read yet.
        QTest::newRow("scan") << QStringLiteral("検索中...") << true << false;
        QTest::newRow("after the scan") << QStringLiteral("重複アドレスを削除しています...") << false << true;
        QTest::newRow("sort") << QStringLiteral("並べ替えています。しばらくお待ちください...") << false << true;
        QTest::newRow("filter") << QStringLiteral("フィルター項目を検索しています") << true << true;
    }

    void pressAtEveryPhase() {
        QFETCH(QString, phase);
        QFETCH(bool, stopped);
        QFETCH(bool, scanned);
        settings(true, true, true, "zz@none.jp");
        const QString first = m_dir->filePath(QStringLiteral("first.txt"));
        const QString second = m_dir->filePath(QStringLiteral("second.txt"));
        QVERIFY(writeFile(first, "aa@one.jp bb@one.jp AA@ONE.JP"));
        QVERIFY(writeFile(second, "cc@two.jp"));
        FakeServices fake;
        fake.openAnswers << second;
        mainWindow w(&fake);
        bool pressed = false;
        QStringList seen;
        connect(&w, &mainWindow::statusChanged, this, [&](const QString& s) {
            seen << s;
            if (!pressed && s == phase) {
                pressed = true;
                w.openButton->click();
                // Commands that act on the list wait for the step to end.
                w._finditem_Action();
                w.deleteSameitem->trigger();
            }
        });
        w.openFile(first);
        QVERIFY(waitIdle(w, 120000));
        QVERIFY(pressed);
        verifyIdle(w);
        const QStringList rows = addresses(w);
        QCOMPARE(rows.contains(QStringLiteral("aa@one.jp")), scanned);
        QCOMPARE(rows.contains(QStringLiteral("bb@one.jp")), scanned);
        if (stopped) {
            QVERIFY(fake.openCalls.isEmpty());
            QVERIFY(!rows.contains(QStringLiteral("cc@two.jp")));
        } else {
            QCOMPARE(fake.openCalls.size(), 1);
            QVERIFY(rows.contains(QStringLiteral("cc@two.jp")));
        }
        // The duplicate-removal command ran last, whatever STOP did before.
        const auto copies = std::count_if(rows.begin(), rows.end(), [](const QString& r) {
            return r.compare(QStringLiteral("aa@one.jp"), Qt::CaseInsensitive) == 0;
        });
        QCOMPARE(copies, scanned ? 1 : 0);
        QVERIFY(!seen.isEmpty());
    }

    void dropDuringAStepWaitsForTheJob() {
        settings(true, true, true);
        const QString first = m_dir->filePath(QStringLiteral("first.txt"));
        const QString second = m_dir->filePath(QStringLiteral("second.txt"));
        QVERIFY(writeFile(first, "aa@one.jp"));
        QVERIFY(writeFile(second, "cc@two.jp"));
        FakeServices fake;
        mainWindow w(&fake);
        bool dropped = false;
        connect(&w, &mainWindow::statusChanged, this, [&](const QString& s) {
            if (!dropped && s.startsWith(QStringLiteral("並べ替え"))) {
                dropped = true;
                w.AddressBox1_DropObject(second);
            }
        });
        w.openFile(first);
        QVERIFY(waitIdle(w, 120000));
        QVERIFY(dropped);
        verifyIdle(w);
        QCOMPARE(addresses(w), (QStringList{"aa@one.jp", "cc@two.jp"}));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QUILLON_UI_TEST_MAIN(TestBadInput)
#include "test_badInput.moc"
