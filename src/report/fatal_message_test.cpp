#include "report/fatal_message.h"

#include <gtest/gtest.h>

#include "report/log_file.h"
#include "report/run_state.h"
#include "support/failure_stops.h"
#include "run_as_worker.h"
#include "test_support.h"

namespace {

class StopTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }
    void openTheLog() {
        runState.logFileName.assign(log.c_str());
        openLog();
    }
    TempDir dir;
    std::string log = dir / "run.log";
};

}  // namespace

TEST_F(StopTest, FatalMessageClosesTheLogUnderItsFinalName) {
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

TEST_F(StopTest, FatalMessageWithoutALogCreatesNoFile) {
    EXPECT_STOP(fatalMessage2(1, "Exclude list not found: ", "x"), testing::ExitedWithCode(1),
                "Exclude list not found: x");
    EXPECT_FALSE(fileExists(log));
}

TEST_F(StopTest, OutOfMemoryStillLeavesACompleteLog) {
    EXPECT_STOP(
        {
            openTheLog();
            writeLog("before\r\n");
            outOfMemory(160000);
        },
        testing::ExitedWithCode(1), "Memory allocation for 160000 bytes failed.");
    EXPECT_EQ(readFile(log), "before\r\n");
}

TEST_F(StopTest, AssertionStopLeavesOnlyWhatWasFlushedUnderTheTemporaryName) {
    EXPECT_STOP(
        {
            openTheLog();
            writeLog("flushed\r\n");
            flushLog();
            writeLog("still buffered\r\n");
            assertionFailed(kMainSourceFile, 2833);
        },
        testing::ExitedWithCode(1), "^MOXEL\nFailure at line 2833 in kazmain.cpp\n$");
    EXPECT_FALSE(fileExists(log));
    EXPECT_EQ(readFile(log + ".~~~"), "flushed\r\n");
}
