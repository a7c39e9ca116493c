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

}  // namespace
}  // namespace platform
