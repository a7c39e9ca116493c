#include "transfer/busy_retry.h"

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/windows_api.h"
#include "transfer/file_copy.h"
#include "transfer/transfer_test_fixture.h"

namespace {

class RetryTest : public TransferTest {
protected:
    // Copies a file while another program holds it, so that it is listed busy.
    void makeBusy(const std::string& name) {
        runState.noShare = 1;
        writeFile(source(name), name);
        locks.emplace_back(std::make_unique<ForeignLock>(source(name), LOCK_SH));
        copyFile(source(name).c_str(), target(name).c_str());
    }
    void releaseLater(size_t lock, int milliseconds) {
        releaser = std::thread([this, lock, milliseconds] {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            locks[lock]->release();
        });
    }
    long long timedRetry() {
        auto start = std::chrono::steady_clock::now();
        retryBusyFiles();
        if (releaser.joinable()) releaser.join();
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    }
    void expectStillBusy(const std::string& name) {
        ASSERT_EQ(runState.busyList.count, 1);
        EXPECT_EQ(runState.busyList.entries[0].firstName, source(name));
        EXPECT_EQ(runState.busyList.entries[0].secondName, target(name));
        EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
        EXPECT_EQ(runState.busySourceOpens, 1);
        EXPECT_FALSE(fileExists(target(name)));
    }
    std::vector<std::unique_ptr<ForeignLock>> locks;
    std::thread releaser;
};

TEST_F(RetryTest, FileReleasedLaterIsCopied) {
    makeBusy("a.txt");
    runState.busyWaitTime = 2;
    releaseLater(0, 300);
    long long elapsed = timedRetry();
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(runState.busyList.count, 0);
    EXPECT_EQ(runState.busySourceOpens, 0);
    EXPECT_EQ(readFile(target("a.txt")), "a.txt");
    EXPECT_EQ(logText(), source("a.txt") + " " + target("a.txt") + "\r\n");
}

TEST_F(RetryTest, WithoutWaitTimeItGivesUpAfterTwoPassesWithoutProgress) {
    makeBusy("a.txt");
    long long elapsed = timedRetry();
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 1000);
    expectStillBusy("a.txt");
    EXPECT_EQ(logText(), "");
}

TEST_F(RetryTest, ProgressRestartsTheWaitAndTheStillBusyFileMovesUp) {
    makeBusy("free.txt");
    makeBusy("held.txt");
    runState.busyWaitTime = 1;
    releaseLater(0, 400);
    long long elapsed = timedRetry();
    // A whole second without progress, counted from after the free file went through.
    EXPECT_GE(elapsed, 1400);
    EXPECT_LT(elapsed, 3000);
    EXPECT_EQ(readFile(target("free.txt")), "free.txt");
    expectStillBusy("held.txt");
}

}  // namespace
