#include "run/run_entry.h"

#include <gtest/gtest.h>

#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "support/failure_stops.h"
#include "support/heap.h"
#include "support/run_stop.h"
#include "run_as_worker.h"
#include "test_support.h"

class WorkerTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override {
        setHeapRefusal(-1);
        resetRunState();
    }
};
using WorkerDeathTest = WorkerTest;

TEST_F(WorkerTest, SecondWorkerIsRefusedAndTouchesNothing) {
    WorkerParam first{nullptr, nullptr, "kaz a b"};
    runState.workerParam = &first;
    WorkerParam second{nullptr, nullptr, "kaz c d"};
    testing::internal::CaptureStderr();
    EXPECT_EQ(workerMain(&second), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KAZ\nKAZ recursive call to KAZthread.\n");
    EXPECT_EQ(runState.workerParam, &first);
    EXPECT_EQ(runState.commandText, nullptr);
}

TEST_F(WorkerDeathTest, RefusedWorkerRecordIsTheOutOfMemoryStop) {
    EXPECT_STOP(
        {
            setHeapRefusal(0);
            startWorker(nullptr);
        },
        testing::ExitedWithCode(1), "Memory allocation for \\w+ bytes failed.");
}

// The run's own stop: what a fatal message or a refused block leaves of the
// log.
class RunStopTest : public WorkerTest {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        installRunStop(endRun);
    }
    void TearDown() override {
        installRunStop(nullptr);
        WorkerTest::TearDown();
    }
    void openTheLog() {
        runState.logFileName.assign(log.c_str());
        openLog();
    }
    TempDir dir;
    std::string log = dir / "run.log";
};

TEST_F(RunStopTest, FatalMessageClosesTheLogUnderItsFinalName) {
    EXPECT_STOP(
        {
            openTheLog();
            writeLog("last line\r\n");
            fatalMessage3(1, "Error in path name (", "a*b", "), no wild cards permitted.");
        },
        testing::ExitedWithCode(1),
        "^KAZ - message\nError in path name \\(a\\*b\\), no wild cards permitted.\n$");
    EXPECT_EQ(readFile(log), "last line\r\n");
    EXPECT_FALSE(fileExists(log + ".~~~"));
}

TEST_F(RunStopTest, FatalMessageWithoutALogCreatesNoFile) {
    EXPECT_STOP(fatalMessage2(1, "Exclude list not found: ", "x"), testing::ExitedWithCode(1),
                "Exclude list not found: x");
    EXPECT_FALSE(fileExists(log));
}

TEST_F(RunStopTest, OutOfMemoryStillLeavesACompleteLog) {
    EXPECT_STOP(
        {
            openTheLog();
            writeLog("before\r\n");
            outOfMemory(160000);
        },
        testing::ExitedWithCode(1), "Memory allocation for 160000 bytes failed.");
    EXPECT_EQ(readFile(log), "before\r\n");
}
