#include "transfer/busy_retry.h"

#include <functional>
#include <memory>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/windows_api.h"
#include "support/wait.h"
#include "transfer/file_copy.h"
#include "transfer/transfer_test_fixture.h"

namespace {

namespace faults = platform::faults;

// Time as the retry pass sees it: each of its waits moves the tick on by
// the time asked, at once, and may let something happen meanwhile.
struct ScriptedClock : WaitClock {
    void wait(int32_t milliseconds) override {
        waits.push_back(milliseconds);
        ticks += static_cast<uint32_t>(milliseconds);
        if (duringWait) duringWait(waits.size());
        // A pass that never gives up would wait for ever on a clock that
        // costs nothing: the fixture frees the files to end it.
        if (waits.size() == kRunaway) {
            ADD_FAILURE() << "the retry pass did not give up";
            if (runaway) runaway();
        }
    }
    uint32_t now() override { return ticks; }

    // Near the wrap of the 32-bit tick, which the wait time must survive.
    uint32_t ticks = 0xFFFFFF00u;
    std::vector<int32_t> waits;
    std::function<void(size_t)> duringWait;
    static constexpr size_t kRunaway = 100000;
    std::function<void()> runaway;
};

class RetryTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        setWaitClock(&clock);
        clock.runaway = [this] {
            for (auto& lock : locks) lock->release();
        };
    }
    void TearDown() override {
        setWaitClock(nullptr);
        faults::disarmAll();
        TransferTest::TearDown();
    }
    // Copies a file while another program holds it, so that it is listed busy.
    void makeBusy(const std::string& name) {
        runState.noShare = 1;
        writeFile(source(name), name);
        locks.emplace_back(std::make_unique<ForeignLock>(source(name), LOCK_SH));
        copyFile(source(name).c_str(), target(name).c_str());
    }
    // Counts the opens of a source from now on; without sharing, each copy
    // attempt opens it once.
    int countAttempts(const std::string& name) {
        return faults::arm(
            faults::Fault(faults::Call::CreateFile, 0).onExactPath(source(name)).always());
    }
    // The whole time the retry pass waited.
    int32_t waited() const {
        int32_t total = 0;
        for (int32_t wait : clock.waits) total += wait;
        return total;
    }
    void expectStillBusy(const std::string& name) {
        ASSERT_EQ(runState.busyList.count, 1);
        EXPECT_EQ(runState.busyList.entries[0].firstName, source(name));
        EXPECT_EQ(runState.busyList.entries[0].secondName, target(name));
        EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
        EXPECT_EQ(runState.busySourceOpens, 1);
        EXPECT_FALSE(fileExists(target(name)));
    }
    ScriptedClock clock;
    std::vector<std::unique_ptr<ForeignLock>> locks;
};

TEST_F(RetryTest, FileReleasedWhileTheRetryWaitsIsCopiedOnTheNextAttempt) {
    makeBusy("a.txt");
    runState.busyWaitTime = 2;
    int attempts = countAttempts("a.txt");
    clock.duringWait = [&](size_t waits) {
        if (waits == 3) locks[0]->release();
    };
    retryBusyFiles();
    // Three attempts met the lock, each followed by a wait; the one after
    // the third wait went through, and nothing was waited for after it.
    EXPECT_EQ(faults::firings(attempts), 4);
    EXPECT_EQ(clock.waits.size(), 3u);
    for (int32_t wait : clock.waits) EXPECT_GT(wait, 0) << "a pass that does not wait spins";
    EXPECT_EQ(runState.busyList.count, 0);
    EXPECT_EQ(runState.busySourceOpens, 0);
    EXPECT_EQ(readFile(target("a.txt")), "a.txt");
    EXPECT_EQ(logText(), source("a.txt") + " " + target("a.txt") + "\r\n");
}

TEST_F(RetryTest, WithoutWaitTimeItGivesUpAfterTwoPassesWithoutProgress) {
    makeBusy("a.txt");
    int attempts = countAttempts("a.txt");
    retryBusyFiles();
    EXPECT_EQ(faults::firings(attempts), 2);
    EXPECT_EQ(clock.waits.size(), 2u);
    expectStillBusy("a.txt");
    EXPECT_EQ(logText(), "");
}

TEST_F(RetryTest, ItGivesUpOnceTheWaitTimeHasPassedWithoutProgress) {
    makeBusy("a.txt");
    runState.busyWaitTime = 2;
    int attempts = countAttempts("a.txt");
    retryBusyFiles();
    // Counted from the first pass that made no progress: two whole seconds,
    // and not a wait more.
    EXPECT_EQ(waited(), 2000);
    EXPECT_EQ(faults::firings(attempts), static_cast<int>(clock.waits.size()));
    expectStillBusy("a.txt");
    EXPECT_EQ(logText(), "");
}

TEST_F(RetryTest, ProgressRestartsTheWaitAndTheStillBusyFileMovesUp) {
    makeBusy("free.txt");
    makeBusy("held.txt");
    runState.busyWaitTime = 1;
    uint32_t progressAt = 0;
    clock.duringWait = [&](size_t waits) {
        if (waits != 4) return;
        locks[0]->release();
        progressAt = clock.ticks;
    };
    retryBusyFiles();
    // 400 ms without progress, then a whole second counted afresh from the
    // pass in which the free file went through.
    EXPECT_EQ(clock.ticks - progressAt, 1000u);
    EXPECT_EQ(waited(), 1400);
    EXPECT_EQ(readFile(target("free.txt")), "free.txt");
    expectStillBusy("held.txt");
}

}  // namespace
