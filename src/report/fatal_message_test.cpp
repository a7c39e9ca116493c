#include "report/fatal_message.h"

#include <gtest/gtest.h>

#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "support/failure_stops.h"
#include "support/run_stop.h"
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

// A stop of the test's own: it says what reached it, and the thread ends.
void tellingStop(int exitCode, const char* message) {
    std::fprintf(stderr, "stop %d: %s|", exitCode, message != nullptr ? message : "(none)");
}

}  // namespace

TEST_F(StopTest, EveryFatalMessageReachesTheInstalledStopWhole) {
    installRunStop(tellingStop);
    EXPECT_STOP(fatalWithCode("Error in destination path (", "/t/x", ERROR_ACCESS_DENIED),
                testing::ExitedWithCode(1),
                "^stop 1: Error in destination path \\(/t/x\\)\\.\nCode=5 - "
                "ERROR_ACCESS_DENIED\n\\|$");
    EXPECT_STOP(fatalMessage3(2, "a", "b", "c"), testing::ExitedWithCode(2), "^stop 2: abc\\|$");
    EXPECT_STOP(outOfMemory(64), testing::ExitedWithCode(1),
                "^stop 1: Memory allocation for 64 bytes failed\\.\\|$");
    EXPECT_STOP(stopRun(0), testing::ExitedWithCode(0), "^stop 0: \\(none\\)\\|$");
    installRunStop(nullptr);
}

TEST_F(StopTest, WithoutAnInstalledStopTheMessageIsShownAndTheThreadEnds) {
    installRunStop(nullptr);
    EXPECT_STOP(fatalMessage2(1, "Exclude list not found: ", "x"), testing::ExitedWithCode(1),
                "^KAZ - message\nExclude list not found: x\n$");
    EXPECT_FALSE(fileExists(log));
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
