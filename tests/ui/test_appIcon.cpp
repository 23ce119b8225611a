#include "support/ui_fakes.h"

#include "ui/App.h"
#include "ui/aboutWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>

// The icon is built into the program as a resource of the window library; a
// resource that is not linked into the program leaves every window without it.
class TestAppIcon : public QObject {
    Q_OBJECT

private slots:
    void everySizeIsDrawnFromItsOwnPicture_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QTest::addRow("%d", size) << size;
        }
    }

    void everySizeIsDrawnFromItsOwnPicture() {
        QFETCH(int, size);
        const QIcon icon = QApplication::windowIcon();
        QVERIFY(!icon.isNull());
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        const QImage file(QStringLiteral(":/quillon/icons/quillon-%1.png").arg(size));
        QVERIFY(!file.isNull());
        QCOMPARE(image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 file.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }

    void aboutWindowDrawsTheApplicationIcon() {
        quillon::aboutWindow about;
        auto* label = about.findChild<QLabel*>(QStringLiteral("appIcon"));
        QVERIFY(label != nullptr);
        const QPixmap shown = label->pixmap();
        QVERIFY(!shown.isNull());
        const QPixmap expected = QApplication::windowIcon().pixmap(shown.deviceIndependentSize().toSize());
        QCOMPARE(shown.toImage(), expected.toImage());
    }

    void windowNamesItsMenuEntry() {
        // The Wayland app id: the desktop shell finds the menu entry, and its
        // icon, by this name.
        const QString desktopFile = QDir::cleanPath(
            QStringLiteral(QUILLON_TEST_DATA "/../../packaging/%1.desktop").arg(QGuiApplication::desktopFileName()));
        QVERIFY2(QFileInfo::exists(desktopFile), qPrintable(desktopFile));
    }
};

QUILLON_UI_TEST_MAIN(TestAppIcon)
#include "test_appIcon.moc"
