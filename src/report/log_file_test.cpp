#include "report/log_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/windows_api.h"
#include "report/run_state.h"
#include "run_as_worker.h"
#include "test_support.h"

class LogFileTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override {
        if (runState.logHandle != INVALID_HANDLE_VALUE) CloseHandle(runState.logHandle);
        resetRunState();
    }
    void open(const std::string& name) {
        runState.logFileName.assign(name.c_str());
        openLog();
        ASSERT_NE(runState.logHandle, INVALID_HANDLE_VALUE);
    }
    // What has reached the open log file. The log is opened without
    // sharing, so Windows refuses a second open: its size is what can be
    // seen from outside; the contents are read once it is closed.
    uintmax_t writtenSoFar() const { return std::filesystem::file_size(temporary); }
    TempDir dir;
    std::string log = dir / "run.log";
    std::string temporary = log + ".~~~";
};

TEST_F(LogFileTest, OpenDeletesTheOldLogAndWritesUnderTheTemporaryName) {
    writeFile(log, "old log");
    open(log);
    EXPECT_FALSE(fileExists(log));
    writeLog("line\r\n");
    closeLog();
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_EQ(readFile(log), "line\r\n");
}

TEST_F(LogFileTest, WithoutALogNothingIsWrittenAnywhere) {
    writeLog("text");
    writeLogNumber(5);
    writeLogPair("a", "b");
    writeDebugTrace(3);
    flushLog();
    closeLog();
    EXPECT_EQ(runState.logBufferUsed, 0u);
}

TEST_F(LogFileTest, BufferNeverHoldsAFull32768Bytes) {
    open(log);
    std::string fill(32760, 'a');
    writeLog(fill.c_str());
    EXPECT_EQ(runState.logBufferUsed, 32760u);
    EXPECT_EQ(writtenSoFar(), 0u);
    writeLog("12345678");  // 32768 would not fit: the first text goes out first
    EXPECT_EQ(writtenSoFar(), fill.size());
    EXPECT_EQ(runState.logBufferUsed, 8u);
    std::string more(32759, 'b');
    writeLog(more.c_str());  // 8 + 32759 = 32767 still fits
    EXPECT_EQ(runState.logBufferUsed, 32767u);
    EXPECT_EQ(writtenSoFar(), 32760u);
    closeLog();
    EXPECT_EQ(readFile(log), fill + "12345678" + more);
}

TEST_F(LogFileTest, LargeTextGoesStraightToTheFileAfterTheBuffer) {
    open(log);
    writeLog("head");
    std::string large(40000, 'x');
    writeLog(large.c_str());
    EXPECT_EQ(runState.logBufferUsed, 0u);
    EXPECT_EQ(writtenSoFar(), 4 + large.size());
    writeLog("tail");
    closeLog();
    EXPECT_EQ(readFile(log), "head" + large + "tail");
}

TEST_F(LogFileTest, NumbersNamesAndPairs) {
    open(log);
    writeLogNumber(0);
    writeLog(" ");
    writeLogNumber(-42);
    writeLog(" ");
    writeLogNumber(INT32_MIN);
    writeLog("\r\n");
    writeLogPair("plain/name", "with blank");
    writeLog("\r\n");
    for (const char* name : {"a+b", "a,b", "a;b", "a=b", "a[b", "a]b", "a\tb", "a-b_c.d"}) {
        writeLogName(name);
        writeLog("|");
    }
    closeLog();
    EXPECT_EQ(readFile(log),
              "0 -42 -2147483648\r\nplain/name \"with blank\"\r\n"
              "\"a+b\"|\"a,b\"|\"a;b\"|\"a=b\"|\"a[b\"|\"a]b\"|\"a\tb\"|a-b_c.d|");
}

TEST_F(LogFileTest, DebugTraceOnlyWithTheSwitchAndEndsInALineFeed) {
    open(log);
    SetLastError(ERROR_SHARING_VIOLATION);
    writeDebugTrace(10);
    runState.debug = 1;
    writeDebugTrace(11);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);  // callers read the code after the trace
    closeLog();
    EXPECT_EQ(readFile(log), ": debug - line = 11, code = 32, ERROR_SHARING_VIOLATION\n");
}

TEST_F(LogFileTest, FailedRenameLeavesTheLogUnderItsTemporaryName) {
    open(log);
    writeLog("kept");
    std::string blocker = log;
    // A folder under the final name makes both the delete and the rename fail.
    ASSERT_TRUE(std::filesystem::create_directory(blocker));
    closeLog();
    EXPECT_EQ(readFile(temporary), "kept");
}

TEST_F(LogFileTest, LogInAMissingFolderIsFatal) {
    runState.logFileName.assign((dir / "no/such/run.log").c_str());
    EXPECT_STOP(openLog(), testing::ExitedWithCode(1), "KAZ - Unable to create log file");
}
