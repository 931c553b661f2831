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

TEST(ThreadSemaphore, WaitTimesOutAndCloseFailsEverything) {
    Semaphore s;
    s.create(0, 1);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.wait(30));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(25));
    s.close();
    EXPECT_FALSE(s.release());
    EXPECT_FALSE(s.wait(0));
    EXPECT_FALSE(s.wait(Semaphore::kInfinite)); // must not block once closed
}

TEST(ThreadSemaphore, CloseWakesABlockedWaiter) {
    Semaphore s;
    s.create(0, 1);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = s.wait(Semaphore::kInfinite) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(result.load(), -1);
    s.close();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
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

void setFlag(void* arg) {
    static_cast<std::atomic<int>*>(arg)->store(7);
}

TEST(ThreadWrapper, KeepsNameBoundedAndRunsEntryWithArgument) {
    Thread t;
    t.init("Process Scan Thread with a name longer than thirty-two", 5, 0x10000);
    EXPECT_STREQ(t.name(), "Process Scan Thread with a name"); // 31 characters and the NUL
    EXPECT_EQ(t.priority(), 5);
    EXPECT_EQ(t.stackSize(), 0x10000u);
    std::atomic<int> flag{0};
    t.start(&setFlag, &flag);
    t.join();
    EXPECT_FALSE(t.running());
    EXPECT_EQ(flag.load(), 7);
}

} // namespace
} // namespace quarv
