#include "core/scan/thread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace quarv {
namespace {

TEST(ThreadSemaphore, CountNeverExceedsItsMaximum) {
    struct Case {
        std::uint32_t initial, maximum;
        int releases;
        std::uint32_t countAfter;
        int acceptedReleases;
    };
    for (const Case c : {Case{1, 1, 1, 1, 0}, Case{0, 1, 1, 1, 1}, Case{0, 1, 3, 1, 1},
                         Case{0, 3, 5, 3, 3}, Case{5, 2, 0, 2, 0}}) {
        Semaphore s;
        s.create(c.initial, c.maximum);
        int accepted = 0;
        for (int i = 0; i < c.releases; ++i) accepted += s.release() ? 1 : 0;
        EXPECT_EQ(accepted, c.acceptedReleases) << c.initial << "/" << c.maximum;
        EXPECT_EQ(s.count(), c.countAfter);
        for (std::uint32_t i = 0; i < c.countAfter; ++i) EXPECT_TRUE(s.wait(0));
        EXPECT_FALSE(s.wait(0)) << "taken more often than it was given";
    }
}

TEST(ThreadSemaphore, CloseWakesABlockedWaiterAndFailsEverythingAfter) {
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
