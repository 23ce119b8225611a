#include "ui/job.h"

#include "ui/mainWindow.h"

#include <QMetaObject>
#include <QThread>

namespace quillon {

Job::Job(mainWindow& window) : w(window) {}

Job::~Job() {
    stopAndWait();
}

void Job::stopAndWait() {
    if (m_thread != nullptr) {
        // The window is going away with work still running: ask it to stop
        // and wait for it, so nothing runs on freed memory.
        w.stop = true;
        w.AddressBox1.exeStop = true;
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
}

void Job::runOnWorker(std::function<void()> work, std::function<void()> then) {
    m_thread = QThread::create(std::move(work));
    connect(m_thread, &QThread::finished, this, [this, then = std::move(then)] {
        m_thread->deleteLater();
        m_thread = nullptr;
        then();
    });
    m_thread->start();
}

void Job::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

} // namespace quillon
