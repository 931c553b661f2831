#include "core/scan/thread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

namespace quarv {
namespace {

// The count never exceeds its maximum (also when created above it), a wait takes one, close wakes
// a blocked waiter and fails everything after.
TEST(ThreadSemaphore, CountCapsAtItsMaximumAndCloseWakesAWaiter) {
    for (const auto& [initial, maximum, releases, countAfter] :
         {std::tuple{1u, 1u, 1, 1u}, {0u, 1u, 3, 1u}, {0u, 3u, 5, 3u}, {5u, 2u, 0, 2u}}) {
        Semaphore s;
        s.create(initial, maximum);
        int accepted = 0;
        for (int i = 0; i < releases; ++i) accepted += s.release() ? 1 : 0;
        EXPECT_EQ(accepted, static_cast<int>(countAfter - std::min(initial, countAfter)));
        EXPECT_EQ(s.count(), countAfter) << initial << "/" << maximum;
        for (std::uint32_t i = 0; i < countAfter; ++i) EXPECT_TRUE(s.wait(0));
        EXPECT_FALSE(s.wait(0)) << "taken more often than it was given";
    }
    Semaphore s;
    s.create(0, 1);
    EXPECT_FALSE(s.wait(30));
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = s.wait(Semaphore::kInfinite) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(result.load(), -1);
    s.close();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(s.release());
    EXPECT_FALSE(s.wait(Semaphore::kInfinite)); // must not block once closed
}

// One release per hand-over: what the releasing thread wrote before the release is what the
// waiter reads after it (TSan checks the ordering).
TEST(ThreadSemaphore, HandOverPublishesPlainData) {
    Semaphore toWorker, toMain;
    toWorker.create(0, 1);
    toMain.create(0, 1);
    std::vector<int> job(64, 0);
    long long sum = 0;
    std::thread worker([&] {
        for (int round = 0; round < 200; ++round) {
            ASSERT_TRUE(toWorker.wait());
            for (int& v : job) v += 1;
            ASSERT_TRUE(toMain.release());
        }
    });
    for (int round = 0; round < 200; ++round) {
        for (int& v : job) v += 2;
        ASSERT_TRUE(toWorker.release());
        ASSERT_TRUE(toMain.wait());
        sum = 0;
        for (int v : job) sum += v;
        EXPECT_EQ(sum, 64LL * 3 * (round + 1));
    }
    worker.join();
}

} // namespace
} // namespace quarv
