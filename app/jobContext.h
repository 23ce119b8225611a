#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace quillon {

// What a long operation of the core gets from whoever runs it: a stop flag to
// poll at its check points, a progress callback, and a yield point where the
// caller may keep a window alive. Every member may be empty; an empty context
// never stops, reports nothing and never yields.
//
// The core never knows which thread it runs on. The UI layer decides what
// `yield` does (nothing on a worker thread, a short event-loop turn when run in
// the foreground) and where `progress` goes.
struct JobContext {
    const std::atomic<bool>* stop = nullptr;
    std::function<void(std::int64_t maximum, std::int64_t value)> progress;
    std::function<void()> yield;

    bool stopRequested() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
    void yieldNow() const {
        if (yield) {
            yield();
        }
    }
    void report(std::int64_t maximum, std::int64_t value) const {
        if (progress) {
            progress(maximum, value);
        }
    }
};

} // namespace quillon
