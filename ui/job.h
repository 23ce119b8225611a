#pragma once

#include "app/jobContext.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>

class QThread;

namespace quillon {

class mainWindow;

// A background job of the main window (an extraction or a duplicate removal).
// Jobs run one at a time from the window's queue. A job lives on the UI
// thread; it hands its heavy work to a worker thread with runOnWorker and
// makes every change of the list and the widgets itself, on the UI thread.
class Job : public QObject {
    Q_OBJECT
public:
    explicit Job(mainWindow& window);
    ~Job() override;

    virtual bool isExtraction() const = 0;
    // Starts the job; it emits finished() once its end steps have run.
    virtual void Run() = 0;

    // Asks the running worker to stop and waits for it. Every job's
    // destructor calls it first, so no worker outlives the job it works for.
    void stopAndWait();

signals:
    void finished();

protected:
    // Runs `work` on a worker thread, then `then` on the UI thread.
    void runOnWorker(std::function<void()> work, std::function<void()> then);
    // Calls `fn` on the UI thread, after everything posted before it.
    void post(std::function<void()> fn);
    // The context of a list operation on a worker: STOP is the list's
    // exeStop, and its progress reaches the list's progChange handler at most
    // every 50 ms.
    JobContext listStepContext();

    mainWindow& w;

private:
    QThread* m_thread = nullptr;
};

// Lets a worker hand things to the UI thread at most every `interval`.
class Throttle {
public:
    explicit Throttle(std::chrono::milliseconds interval) : m_interval(interval) {}
    bool due() {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < m_interval) {
            return false;
        }
        m_last = now;
        return true;
    }

private:
    std::chrono::milliseconds m_interval;
    std::chrono::steady_clock::time_point m_last{};
};

} // namespace quillon
