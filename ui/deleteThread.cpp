#include "ui/deleteThread.h"

#include "list/listOps.h"
#include "ui/mainWindow.h"

#include <QLabel>

#include <memory>

namespace quillon {

deleteThread::deleteThread(mainWindow& window) : Job(window) {}

deleteThread::~deleteThread() {
    stopAndWait();
}

void deleteThread::Run() {
    w.setbuttonOFF();
    w.setprog0();
    w.setStatus(QStringLiteral("重複アドレスを削除しています..."));
    w.AddressBox1.exeStop = false;
    m_rows = w.checkOutRows();
    runOnWorker([this] { m_stopped = listOps::deleteByColumn(m_rows, 1, listStepContext()); }, [this] { ended(); });
}

void deleteThread::ended() {
    w.checkInRows(std::move(m_rows));
    m_rows.clear();
    w.AddressBox1_deleteDone(m_stopped);
    // End steps.
    w.setbuttonON();
    w.setprogFalse();
    if (w.userStopped) {
        w.setStatus(QStringLiteral("処理は中止されました"));
        w.userStopped = false;
    } else {
        w.setStatus(QStringLiteral("完了"));
    }
    w.runDeferred();
    emit finished();
}

} // namespace quillon
