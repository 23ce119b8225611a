#include "extract/handOver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using quillon::HandOver;

// Items of every cost come through a small queue in order, with the threads
// woken in bunches; the producer's failure reaches the consumer after them.
TEST(HandOver, CarriesItemsInOrderThenTheProducersFailure) {
    for (const std::size_t capacity : {1u, 3u, 50u}) {
        HandOver<int> queue(capacity, 4);
        std::thread producer([&] {
            for (int i = 0; i < 1000; ++i) {
                queue.push(i, 1 + static_cast<std::size_t>(i % 7));
            }
            queue.fail(std::make_exception_ptr(std::runtime_error("read failed")));
        });
        std::vector<int> got;
        EXPECT_THROW(
            {
                while (std::optional<int> v = queue.pop()) {
                    got.push_back(*v);
                }
            },
            std::runtime_error);
        producer.join();
        ASSERT_EQ(got.size(), 1000u) << capacity;
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(got[static_cast<std::size_t>(i)], i);
        }
    }
}

// A consumer that quits frees a producer waiting on a full queue, and every
// later push fails; a closed queue ends the consumer after its last item.
TEST(HandOver, QuitFreesTheProducerAndCloseEndsTheConsumer) {
    HandOver<int> queue(2);
    std::atomic<std::size_t> pushed{0};
    std::thread producer([&] {
        while (queue.push(1)) {
            ++pushed;
        }
    });
    while (pushed.load() < 2) {
        std::this_thread::yield(); // the queue fills; the third push waits
    }
    queue.quit();
    producer.join();
    EXPECT_EQ(pushed.load(), 2u);
    EXPECT_FALSE(queue.push(2));
    EXPECT_FALSE(queue.pop().has_value());

    HandOver<int> closing(4);
    closing.push(7);
    closing.close();
    EXPECT_EQ(closing.pop(), 7);
    EXPECT_FALSE(closing.pop().has_value());
    EXPECT_FALSE(closing.tryPop().has_value());
}

} // namespace
