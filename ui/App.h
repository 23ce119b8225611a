#pragma once

#include "app/prefStore.h"
#include "app/settings.h"

#include <QApplication>
#include <QString>

#include <filesystem>
#include <memory>

namespace quillon {

// The application object: lives for the whole run and holds every user
// setting (as its Settings base, read directly by the windows and jobs) and
// the preferences file.
class App : public QApplication, public Settings {
    Q_OBJECT
public:
    // `prefFolder` empty: the user's configuration folder.
    App(int& argc, char** argv, std::filesystem::path prefFolder = {});
    ~App() override;

    // The open handler: reads "Quillon.prefs" or applies and writes the defaults.
    void Open();
    void yomikomi();
    void init();
    // Saves the settings; false (with the reason in prefError()) when the file
    // could not be written.
    bool settei();

    QString shortVersion() const;
    PrefStore& prefStore() { return m_prefs; }
    // Why the preferences file could not be read or written: its name and
    // the cause, in the window's words.
    QString prefError() const;

    static std::filesystem::path defaultPrefFolder();

private:
    void loadTranslations();

    PrefStore m_prefs;
};

namespace win {
// The one application object.
App* App();
} // namespace win

} // namespace quillon
