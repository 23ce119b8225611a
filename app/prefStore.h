#pragma once

#include "app/settings.h"

#include <filesystem>
#include <string>

namespace quillon {

class FileOps;

// The preferences file "Quillon.prefs" in one folder: start-up (read it, or
// write the defaults when there is none), reading, writing the defaults and
// saving. The folder is given by the caller, so tests use a temporary one.
//
// Every operation opens the file, does its work and closes it again. Failures
// never throw: the settings keep whatever could be read, and `lastError()`
// tells what went wrong for the caller to show.
class PrefStore {
public:
    static constexpr const char* kFileName = "Quillon.prefs";

    explicit PrefStore(std::filesystem::path folder);

    // The application's open handler: reads the file when it exists and is not
    // empty, otherwise applies and writes the defaults.
    void Open(Settings& s);
    void yomikomi(Settings& s);
    void init(Settings& s);
    // Saves the settings, rebuilds the filter lists and derives the switches.
    // A file that vanished since start is created again and the confirmed
    // settings are saved into it. Returns false when the file could not be
    // written (the settings in memory are kept).
    bool settei(Settings& s);

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path filePath() const { return m_folder / kFileName; }
    const std::string& lastError() const { return m_lastError; }
    // The file operations saves go through (tests inject faults); nullptr is POSIX.
    void setFileOps(FileOps* ops) { m_ops = ops; }
    // The errno behind lastError(), 0 when there is none.
    int lastErrorNumber() const { return m_lastErrno; }

private:
    std::filesystem::path m_folder;
    FileOps* m_ops = nullptr;
    std::string m_lastError;
    int m_lastErrno = 0;
};

} // namespace quillon
