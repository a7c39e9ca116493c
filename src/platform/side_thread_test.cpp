#include "platform/side_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

TEST(SideThread, FinishReturnsOnlyOnceATakenJobHasRun) {
    SideThread* side = SideThread::get();
    ASSERT_NE(side, nullptr);
    std::atomic<bool> started{false}, release{false};
    int result = 0;
    SideThread::Job job([&] {
        started = true;
        while (!release) std::this_thread::yield();
        result = 42;
    });
    side->offer(job);
    while (!started) std::this_thread::yield();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release = true;
    });
    EXPECT_TRUE(side->finish(job));
    EXPECT_EQ(result, 42);
    releaser.join();
}

// Jobs offered one after the other, some taken at once and some given back:
// each runs at most once, and finish tells which.
TEST(SideThread, EachJobRunsOnceOrIsGivenBack) {
    SideThread* side = SideThread::get();
    ASSERT_NE(side, nullptr);
    int taken = 0;
    for (int i = 0; i < 20000; ++i) {
        int runs = 0;
        SideThread::Job job([&runs] { ++runs; });
        side->offer(job);
        if (i % 2 == 0) std::this_thread::yield();
        const bool ran = side->finish(job);
        ASSERT_EQ(runs, ran ? 1 : 0) << i;
        taken += ran;
    }
    EXPECT_GT(taken, 0);
}

// Offers that come as the side thread goes to sleep, and jobs that end as
// the caller goes to sleep in finish: every wake must arrive, or a run
// waits for ever. (An atomic's own wait lost such wakes on Windows.)
TEST(SideThread, NoWakeIsLostAsEitherThreadGoesToSleep) {
    SideThread* side = SideThread::get();
    ASSERT_NE(side, nullptr);
    const auto spin = [](std::chrono::microseconds length) {
        const auto end = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < end) {
        }
    };
    int ran = 0;
    for (int i = 0; i < 3000; ++i) {
        // Around the hundred microseconds either thread looks before it sleeps.
        const auto around = std::chrono::microseconds(70 + (i * 37) % 70);
        spin(around);
        SideThread::Job job([&] { spin(around); });
        side->offer(job);
        // Long enough for a side thread that is awake to take the job.
        spin(std::chrono::microseconds(20));
        ran += side->finish(job);
    }
    EXPECT_GT(ran, 0);
}

}  // namespace
}  // namespace platform
