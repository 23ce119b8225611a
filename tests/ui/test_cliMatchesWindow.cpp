#include "support/ui_fakes.h"
#include "support/ui_window.h"

#include "extract/convModule.h"
#include "ui/App.h"
#include "ui/mainWindow.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using quillon::App;
using quillon::mainWindow;
using quillon::Settings;
using quillon::test::FakeServices;
using quillon::test::waitIdle;
using quillon::test::writeFile;

namespace {

// Japanese text with CP932 extensions (circled digits, "㈱", "髙", "﨑", Roman
// numerals, "№"), half-width kana, full-width look-alikes of an address and
// numeric character references, around addresses whose case differs.
const char* const kMainText = "株式会社テスト①　担当：髙橋　﨑山　ｱｲｳｴｵ\n"
                              "連絡先: info@example.co.jp、Sales@Example.co.jp（営業）\n"
                              "㈱サンプル　taro.yamada@mail.example.com／hanako_01@docomo.ne.jp\n"
                              "&#105;nfo@example.co.jp と &#x62;oss@spam.example は参照です。\n"
                              "ⅰⅱⅲ　№１　≒≡∫　zzz@foo.invalid　ZED@b.jp　amy@a.com　zed@B.JP\n"
                              "全角は対象外：ｔｅｓｔ＠ｆｕｌｌ．ｊｐ　noreply@bounce.example.org\n";
const char* const kOneText = "㊤㊥㊦ a1@one.jp, INFO@EXAMPLE.CO.JP ＠ ①②③\n";
const char* const kTwoText = "boss@spam.example　taro.yamada@mail.example.com　Ｔｅｌ：０３\n";
const char* const kHiddenText = "hidden@h.jp\n";

QByteArray shiftJis(const char* utf8) {
    const quillon::convModule::SjisResult r = quillon::convModule::convToSJIS(utf8);
    if (r.replaced != 0) {
        qFatal("test text not representable in Shift_JIS");
    }
    return QByteArray::fromStdString(r.bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// For the same sources and settings, quillon-extract writes the very bytes of
// the window's export.
class TestCliMatchesWindow : public QObject {
    Q_OBJECT

private slots:
    void sameBytesAsTheExport_data() {
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("yohaku");
        QTest::addColumn<bool>("dedupe");
        QTest::addColumn<bool>("sort");
        QTest::addColumn<bool>("check");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("inList");
        QTest::addColumn<bool>("fromXdg");

        QTest::newRow("line, all steps") << 4 << 10 << false << true << true << true << QString() << true << false;
        QTest::newRow("comma, no steps") << 6 << 10 << false << false << false << false << QString() << true << false;
        QTest::newRow("3 per line, blank line, filter removes")
            << 14 << 3 << true << true << true << true
            << QStringLiteral("***@spam.example,zzz@foo.invalid,hanako_01@***") << false << false;
        QTest::newRow("2 per line, filter checks, from XDG_CONFIG_HOME")
            << 14 << 2 << false << true << false << true << QStringLiteral("***@example.co.jp,amy@a.com") << true
            << true;
        QTest::newRow("1 per line, sorted, duplicates kept")
            << 14 << 1 << false << false << true << false << QString() << true << false;
        QTest::newRow("unknown layout writes nothing")
            << 5 << 10 << false << true << true << true << QString() << true << false;
    }

    void sameBytesAsTheExport() {
        QFETCH(int, layout);
        QFETCH(int, n);
        QFETCH(bool, yohaku);
        QFETCH(bool, dedupe);
        QFETCH(bool, sort);
        QFETCH(bool, check);
        QFETCH(QString, filter);
        QFETCH(bool, inList);
        QFETCH(bool, fromXdg);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString mainFile = dir.filePath(QStringLiteral("main.txt"));
        const QString folder = dir.filePath(QStringLiteral("drop"));
        const QString lastFile = dir.filePath(QStringLiteral("last.txt"));
        QVERIFY(writeFile(mainFile, shiftJis(kMainText)));
        QVERIFY(writeFile(folder + QStringLiteral("/one.txt"), shiftJis(kOneText)));
        QVERIFY(writeFile(folder + QStringLiteral("/deeper/two.txt"), shiftJis(kTwoText)));
        QVERIFY(writeFile(folder + QStringLiteral("/.hidden.txt"), shiftJis(kHiddenText)));
        QVERIFY(writeFile(lastFile, shiftJis(kMainText) + shiftJis(kTwoText)));

        // The settings as the preferences window confirms them: stored in the
        // application's (temporary) preferences folder.
        App& app = *quillon::win::App();
        app.prefN[1] = dedupe ? Settings::kDeleteOn : Settings::kDeleteOff;
        app.prefN[2] = sort ? Settings::kSortOn : Settings::kSortOff;
        app.prefN[3] = check ? Settings::kCheckOn : Settings::kCheckOff;
        app.prefN[4] = layout;
        app.prefN[5] = n;
        app.needYohaku = yohaku;
        app.filterString = filter.toStdString();
        app.inList = inList;
        QVERIFY(app.settei());
        app.inEncoding = quillon::Encoding::ShiftJIS;

        // The window: three sources in a row, then the export.
        const QString exported = dir.filePath(QStringLiteral("window.txt"));
        FakeServices fake;
        fake.saveAnswers << exported;
        mainWindow w(&fake);
        w.openFile(mainFile);
        w.openFile(folder);
        w.openFile(lastFile);
        QVERIFY(waitIdle(w, 30000));
        QVERIFY(w.AddressBox1.ListCount() > 0);
        w.write();
        QCOMPARE(fake.saveProposals.size(), 1);

        // The program, reading the same preferences.
        const QString prefFolder = QString::fromStdString(app.prefStore().folder().string());
        QProcess cli;
        QStringList args{QStringLiteral("--encoding"), QStringLiteral("shift_jis")};
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (fromXdg) {
            const QString xdg = dir.filePath(QStringLiteral("xdg"));
            QVERIFY(QDir().mkpath(xdg + QStringLiteral("/Quillon")));
            QVERIFY(QFile::copy(prefFolder + QStringLiteral("/Quillon.prefs"),
                                xdg + QStringLiteral("/Quillon/Quillon.prefs")));
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), xdg);
        } else {
            args << QStringLiteral("--prefs") << prefFolder;
        }
        args << mainFile << folder << lastFile;
        cli.setProcessEnvironment(env);
        cli.start(QString::fromUtf8(QUILLON_EXTRACT_PROGRAM), args);
        QVERIFY(cli.waitForFinished(60000));
        const QByteArray errors = cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        const bool known = layout == 4 || layout == 6 || layout == 14;
        QCOMPARE(cli.exitCode(), known ? 0 : 1);
        const QByteArray output = cli.readAllStandardOutput();

        // Both say when the layout is unknown, and write nothing.
        QCOMPARE(fake.warnings.size(), known ? 0 : 1);
        if (known) {
            QVERIFY(QFileInfo::exists(exported));
            QVERIFY(!output.isEmpty());
            QVERIFY2(errors.isEmpty(), errors.constData());
        } else {
            QVERIFY(!QFileInfo::exists(exported));
            QVERIFY(errors.contains("layout code 5"));
        }
        QCOMPARE(output, readFile(exported));
    }

    // A Maildir folder of encoded mails: the same rows from both, and they are
    // the addresses a mail reader shows (the soft break inside an address
    // undone, the base64 body read, the image attachment left alone).
    void maildirGivesTheSameRows() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString maildir = dir.filePath(QStringLiteral("Maildir"));
        QVERIFY(QDir().mkpath(maildir + QStringLiteral("/tmp")));
        QVERIFY(writeFile(maildir + QStringLiteral("/new/1700000000.M1P1.host"),
                          "From: sender@example.org\r\nTo: dest@example.net\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                              QByteArray("連絡先 b64.body@example.jp\n").toBase64() + "\r\n"));
        QVERIFY(writeFile(
            maildir + QStringLiteral("/cur/1700000001.M2P2.host:2,S"),
            "From: other@example.org\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
            "--b\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: "
            "quoted-printable\r\n\r\n"
            "=1B$BO\"Mm=1B(B taro.yama=\r\nda@example.jp\r\n"
            "--b\r\nContent-Type: image/png; name=\"a.png\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                QByteArray("hidden.image@example.com").toBase64() + "\r\n--b--\r\n"));

        App& app = *quillon::win::App();
        app.prefN[1] = Settings::kDeleteOff;
        app.prefN[2] = Settings::kSortOff;
        app.prefN[3] = Settings::kCheckOff;
        app.prefN[4] = 4;
        app.filterString.clear();
        QVERIFY(app.settei());
        app.inEncoding = quillon::Encoding::ShiftJIS;

        const QString exported = dir.filePath(QStringLiteral("window.txt"));
        FakeServices fake;
        fake.saveAnswers << exported;
        mainWindow w(&fake);
        w.openFile(maildir);
        QVERIFY(waitIdle(w));
        w.write();
        const QByteArray fromWindow = readFile(exported);

        QProcess cli;
        const QString prefFolder = QString::fromStdString(app.prefStore().folder().string());
        cli.start(QString::fromUtf8(QUILLON_EXTRACT_PROGRAM),
                  {QStringLiteral("--encoding"), QStringLiteral("shift_jis"), QStringLiteral("--prefs"), prefFolder,
                   maildir});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(cli.readAllStandardOutput(), fromWindow);

        const QList<QByteArray> rows = QByteArray(fromWindow).replace("\r\n", "\n").replace('\r', '\n').split('\n');
        QVERIFY(rows.contains("taro.yamada@example.jp"));
        QVERIFY(rows.contains("b64.body@example.jp"));
        QVERIFY(rows.contains("sender@example.org"));
        QVERIFY(!rows.contains("da@example.jp"));
        QVERIFY(!rows.contains("hidden.image@example.com"));
    }
};

QUILLON_UI_TEST_MAIN(TestCliMatchesWindow)
#include "test_cliMatchesWindow.moc"
