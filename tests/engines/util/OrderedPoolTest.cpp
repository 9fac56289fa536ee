// The ordered pool's stop: one requested from another thread, at any moment, ends the owner's
// wait and reaches every job that runs, without a stop callback (which can hang under MinGW).
#include "engines/util/OrderedPool.h"
#include "support/Waits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using quaverly::OrderedPool;
using quaverly::test::pollUntil;

namespace {

TEST(OrderedPool, AStopFromAnotherThreadEndsTheWaitAndReachesTheRunningJobs) {
    for (int round = 0; round < 60; ++round) {
        std::stop_source stop;
        std::atomic<int> started{0}, stopped{0};
        OrderedPool<int, int> pool(
            [&](int& job, const std::stop_token& token) {
                ++started;
                if (pollUntil([&token] { return token.stop_requested(); }, 30.0))
                    ++stopped;
                return job;
            },
            stop.get_token());
        pool.start(2);
        ASSERT_TRUE(pool.submit(1));
        ASSERT_TRUE(pool.submit(2));
        // The stop comes before any job runs, while one runs, or while both do.
        const int before = round % 3;
        std::thread stopper([&] {
            (void)pollUntil([&] { return started.load() >= before; });
            stop.request_stop();
        });
        int result = 0;
        EXPECT_FALSE(pool.take(result, true)) << round;
        stopper.join();
        EXPECT_TRUE(pool.abandoned());
        EXPECT_FALSE(pool.submit(3));
        EXPECT_TRUE(pollUntil([&] { return stopped.load() == started.load(); })) << round;
    }
}

} // namespace
