#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace quillon {

// The one way work is handed from one thread to another: a bounded queue
// between a producer and a consumer, in order.
//
// The producer pushes (waiting while the queue is full) and ends with close()
// or, when it failed, with fail(): the consumer gets every item pushed before
// and then the producer's exception, rethrown on its own thread. The consumer
// that gives up calls quit(): a waiting or later push returns false at once,
// so the producer can end without having its work taken.
//
// Each item has a cost (1 unless told: a piece of text may cost by its size);
// the queue holds at most `capacity` of cost, and always at least one item.
// Threads are not woken for every item: a waiting consumer wakes once
// `wakeAt` of cost is ready, a waiting producer once half the capacity is
// free, and a side that is about to wait always wakes the other first.
template <class T> class HandOver {
public:
    explicit HandOver(std::size_t capacity, std::size_t wakeAt = 1)
        : m_capacity(capacity == 0 ? 1 : capacity), m_wakeAt(wakeAt == 0 ? 1 : wakeAt) {}
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    // Producer. False when the consumer has quit (the item is dropped).
    bool push(T item, std::size_t cost = 1) {
        std::unique_lock lock(m_mutex);
        while (!m_quit && !m_items.empty() && m_cost + cost > m_capacity) {
            m_producerWaits = true;
            m_changed.notify_all();
            m_changed.wait(lock);
            m_producerWaits = false;
        }
        if (m_quit) {
            return false;
        }
        m_items.emplace_back(std::move(item), cost);
        m_cost += cost;
        const bool wake = m_consumerWaits && m_cost >= m_wakeAt;
        lock.unlock();
        if (wake) {
            m_changed.notify_all();
        }
        return true;
    }

    // Producer: nothing more will come.
    void close() {
        {
            const std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
    }

    // Producer: ends with an error that pop() rethrows after the items before it.
    void fail(std::exception_ptr failure) {
        {
            const std::lock_guard lock(m_mutex);
            m_failure = std::move(failure);
            m_closed = true;
        }
        m_changed.notify_all();
    }

    // Consumer. Waits for the next item; nothing once the producer closed and
    // every item was taken, or once quit() was called.
    std::optional<T> pop() {
        std::unique_lock lock(m_mutex);
        while (!m_quit && !m_closed && m_items.empty()) {
            m_consumerWaits = true;
            m_changed.notify_all();
            m_changed.wait(lock);
            m_consumerWaits = false;
        }
        return takeLocked(lock);
    }

    // Consumer. The next item if one is there, without waiting.
    std::optional<T> tryPop() {
        std::unique_lock lock(m_mutex);
        return takeLocked(lock);
    }

    // Consumer: takes nothing more; the producer's pushes fail from now on.
    void quit() {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
            m_items.clear();
            m_cost = 0;
        }
        m_changed.notify_all();
    }

private:
    std::optional<T> takeLocked(std::unique_lock<std::mutex>& lock) {
        if (m_quit) {
            return std::nullopt;
        }
        if (m_items.empty()) {
            if (m_failure) {
                std::rethrow_exception(std::exchange(m_failure, nullptr));
            }
            return std::nullopt;
        }
        T item = std::move(m_items.front().first);
        m_cost -= m_items.front().second;
        m_items.pop_front();
        const bool wake = m_producerWaits && m_cost <= m_capacity / 2;
        lock.unlock();
        if (wake) {
            m_changed.notify_all();
        }
        return item;
    }

    const std::size_t m_capacity;
    const std::size_t m_wakeAt;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<T, std::size_t>> m_items;
    std::size_t m_cost = 0;
    std::exception_ptr m_failure;
    bool m_closed = false;
    bool m_quit = false;
    bool m_producerWaits = false;
    bool m_consumerWaits = false;
};

} // namespace quillon
