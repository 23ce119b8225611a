#include "ui/job.h"

#include "ui/mainWindow.h"

#include <QMetaObject>
#include <QThread>

#include <memory>

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

JobContext Job::listStepContext() {
    using namespace std::chrono_literals;
    auto throttle = std::make_shared<Throttle>(50ms);
    JobContext ctx;
    ctx.stop = &w.AddressBox1.exeStop;
    ctx.progress = [this, throttle](std::int64_t maximum, std::int64_t value) {
        if (throttle->due()) {
            post([this, maximum, value] {
                w.AddressBox1_progChange(static_cast<int>(maximum), static_cast<int>(value));
            });
        }
    };
    return ctx;
}

void Job::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

} // namespace quillon
