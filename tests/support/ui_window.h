#pragma once

#include "ui/mainWindow.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

#include <cstdint>

// What the tests of the main window share: files to search, the list as
// texts, and waiting for the window's jobs to end.
namespace quillon::test {

// Writes `bytes` to a new file at `path`, making its folders; false when it
// could not.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Column `c` of the window's list, row by row (1 is the address).
inline QStringList column(const mainWindow& w, int c) {
    QStringList out;
    for (std::int64_t r = 0; r < w.AddressBox1.ListCount(); ++r) {
        out << QString::fromStdString(w.AddressBox1.Cell(r, c));
    }
    return out;
}

// The addresses of the window's list, in their order.
inline QStringList addresses(const mainWindow& w) {
    return column(w, 1);
}

// Waits until the window has no job left; false when it still has one after
// `timeoutMs`.
inline bool waitIdle(mainWindow& w, int timeoutMs = 20000) {
    if (!w.jobRunning()) {
        return true;
    }
    QSignalSpy spy(&w, &mainWindow::jobsIdle);
    return spy.wait(timeoutMs);
}

} // namespace quillon::test
