#include "ui/App.h"

#include "ui/errorText.h"

#include <QFile>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

namespace quillon {

namespace {

// The application icon, built into the program from packaging/icons; every
// window shows it, the about window draws it.
QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/quillon/icons/quillon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace

App::App(int& argc, char** argv, std::filesystem::path prefFolder)
    : QApplication(argc, argv), m_prefs(prefFolder.empty() ? defaultPrefFolder() : std::move(prefFolder)) {
    // No display name is set: the desktop would add it to the title of every
    // window whose title does not end with it ("初期設定 — Quillon").
    setApplicationName(QStringLiteral("Quillon"));
    setApplicationVersion(QStringLiteral(QUILLON_VERSION));
    // Desktop integration: the menu entry's name (packaging/) and the icon.
    setDesktopFileName(QStringLiteral("org.quillon.Quillon"));
    setWindowIcon(applicationIcon());
    loadTranslations();
}

App::~App() = default;

std::filesystem::path App::defaultPrefFolder() {
    // ~/.config/Quillon on Linux (the XDG configuration folder).
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::filesystem::path(base.toStdString()) / "Quillon";
}

void App::loadTranslations() {
    // The interface is Japanese whatever the system language: Qt's own
    // dialogs and buttons follow it.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* name : {"qtbase_ja", "qt_ja"}) {
        auto* translator = new QTranslator(this);
        if (translator->load(QString::fromLatin1(name), dir)) {
            installTranslator(translator);
        } else {
            delete translator;
        }
    }
}

void App::Open() {
    m_prefs.Open(*this);
}
void App::yomikomi() {
    m_prefs.yomikomi(*this);
}
void App::init() {
    m_prefs.init(*this);
}
bool App::settei() {
    return m_prefs.settei(*this);
}

QString App::shortVersion() const {
    return applicationVersion();
}

QString App::prefError() const {
    return fileErrorText(QFile::decodeName(QByteArray::fromStdString(m_prefs.filePath().string())),
                         m_prefs.lastErrorNumber());
}

App* win::App() {
    return static_cast<quillon::App*>(QCoreApplication::instance());
}

} // namespace quillon
