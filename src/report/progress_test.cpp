#include "report/progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/cancel_signals.h"
#include "platform/message_boxes.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/progress_dialog.h"
#include "report/progress_text.h"
#include "report/run_state.h"
#include "run_as_worker.h"
#include "test_support.h"

namespace {


int questions = 0;
std::string lastQuestion;
int answer = IDNO;
int32_t cancelDuringQuestion = 0;

int presentQuestion(const char* text, const char* caption, UINT type) {
    if ((type & 0x0Fu) != MB_YESNO) {
        std::fprintf(stderr, "%s\n%s\n", caption, text);
        return IDOK;
    }
    ++questions;
    lastQuestion = std::string(caption) + "|" + text;
    if (cancelDuringQuestion != 0) runState.cancelRequested = cancelDuringQuestion;
    return answer;
}

class Progress : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        runState.progressDialog = &dialog;
        questions = 0;
        answer = IDNO;
        cancelDuringQuestion = 0;
        platform::setMessageBoxPresenter(presentQuestion);
    }
    void TearDown() override {
        platform::setMessageBoxPresenter(nullptr);
        resetRunState();
    }
    // A run that started `elapsed` ms ago and was refreshed just now, so that
    // an unforced refresh is skipped.
    void runFor(uint32_t elapsed) {
        uint32_t now = timeGetTime();
        runState.runStartTicks = now - elapsed;
        runState.lastRefreshTicks = now;
    }
    void forcedRefresh() {
        runState.forceRefresh = 1;
        refreshProgress();
    }
    std::string field(ProgressField which) { return dialogField(&dialog, which); }
    ProgressDialog dialog;
};

}  // namespace

TEST(ProgressText, RunTimeAndRate) {
    EXPECT_EQ(runTimeText(0), "         0.000");
    EXPECT_EQ(runTimeText(59999), "        59.999");
    EXPECT_EQ(runTimeText(60000), "        1:00");
    EXPECT_EQ(runTimeText(3599999), "       59:59");
    EXPECT_EQ(runTimeText(3723000), "     1:02:03");
    EXPECT_EQ(runTimeText(100u * 3600000u + 5000u), "   100:00:05");  // no days
    EXPECT_EQ(megabytesPerMinuteText(1000000.0, 30000), "2.000");
    EXPECT_EQ(megabytesPerMinuteText(5000000.0, 0), "0.000");
}

TEST_F(Progress, FirstRefreshShowsEveryField) {
    runFor(5000);
    setShownSource("/src/a/report.doc");
    runState.filesProcessed = 12;
    runState.virtualFilesProcessed = 30;
    runState.bytesCopied = 1000;
    runState.virtualBytesCopied = 4000;
    runState.filesCreated = 3;
    runState.foldersCreated = 4;
    runState.filesDeleted = 5;
    runState.foldersDeleted = 6;
    addBusyFile("/s/b", "/t/b", ERROR_SHARING_VIOLATION);
    addException("/s/e", "/t/e", ERROR_ACCESS_DENIED, 0);
    addException("/s/f", "/t/f", 0, kVerifyError);
    forcedRefresh();
    EXPECT_EQ(runState.forceRefresh, 0);
    EXPECT_EQ(field(kTopLineField), "/src/a/report.doc");
    EXPECT_EQ(field(kFilesProcessedField), "12");
    EXPECT_EQ(field(kVirtualFilesProcessedField), "30");
    EXPECT_EQ(field(kMegabytesField), "0.001");
    EXPECT_EQ(field(kVirtualMegabytesField), "0.004");
    EXPECT_EQ(field(kCompressionRatioField), "4.00:1");
    EXPECT_EQ(field(kBusyFilesField), "1");
    EXPECT_EQ(field(kFilesCreatedField), "3");
    EXPECT_EQ(field(kFoldersCreatedField), "4");
    EXPECT_EQ(field(kFilesDeletedField), "5");
    EXPECT_EQ(field(kFoldersDeletedField), "6");
    EXPECT_EQ(field(kExceptionFilesField), "2");
    EXPECT_EQ(field(kRunTimeField).substr(0, 12), "         5.0");
    EXPECT_EQ(field(kMegabytesPerMinuteField).substr(0, 4), "0.04");  // 0.004 MB in 5 s
}

TEST_F(Progress, OnlyChangedFiguresAreSentAgain) {
    runFor(5000);
    setShownSource("/src/one");
    runState.filesProcessed = 7;
    runState.virtualBytesCopied = 2000000;
    forcedRefresh();
    EXPECT_EQ(field(kCompressionRatioField), "*****:1");
    // Something else wrote the boxes: unchanged figures are not sent again,
    // the rate and the ratio are sent at every refresh.
    for (ProgressField f : {kTopLineField, kRunTimeField, kFilesProcessedField, kMegabytesField,
                            kMegabytesPerMinuteField, kCompressionRatioField}) {
        setDialogField(&dialog, f, "x");
    }
    runState.bytesCopied = 500000;
    forcedRefresh();
    EXPECT_EQ(field(kTopLineField), "x");
    EXPECT_EQ(field(kRunTimeField), "x");
    EXPECT_EQ(field(kFilesProcessedField), "x");
    EXPECT_EQ(field(kMegabytesField), "0.500");
    EXPECT_EQ(field(kCompressionRatioField), "4.00:1");
    EXPECT_NE(field(kMegabytesPerMinuteField), "x");
    setShownSource("/src/one");
    runState.filesProcessed = 8;
    runState.runStartTicks -= 1000;
    forcedRefresh();
    EXPECT_EQ(field(kTopLineField), "/src/one");
    EXPECT_EQ(field(kFilesProcessedField), "8");
    EXPECT_EQ(field(kRunTimeField).substr(0, 12), "         6.0");
}

TEST_F(Progress, RunTimeCountsMillisecondsDuringTheFirstSecond) {
    runFor(500);
    forcedRefresh();
    setDialogField(&dialog, kRunTimeField, "x");
    forcedRefresh();
    EXPECT_EQ(field(kRunTimeField).substr(0, 11), "         0.");
}

TEST_F(Progress, RefreshesWithinASecondAreSkippedAfterTheFirstTenth) {
    runFor(5000);
    forcedRefresh();
    runFor(5000);
    runState.filesProcessed = 99;
    dialog.delaySourceValue = 50;
    refreshProgress();
    EXPECT_EQ(field(kFilesProcessedField), "0");
    EXPECT_EQ(runState.delaySource, 0);
    runState.lastRefreshTicks -= 1000;
    refreshProgress();
    EXPECT_EQ(field(kFilesProcessedField), "99");
    EXPECT_EQ(runState.delaySource, 50);
    // Right at the start nothing is skipped.
    runFor(0);
    runState.filesProcessed = 5;
    refreshProgress();
    EXPECT_EQ(field(kFilesProcessedField), "5");
}

TEST_F(Progress, DelayBoxesStartFromTheCommandLine) {
    runFor(5000);
    runState.delayOpen = 10;
    runState.delaySource = 20;
    runState.delayTarget = 30;
    forcedRefresh();
    EXPECT_EQ(runState.delayOpen, 10);
    EXPECT_EQ(runState.delaySource, 20);
    EXPECT_EQ(runState.delayTarget, 30);
    EXPECT_EQ(dialog.delayOpenValue.load(), 10);
    // From then on the boxes rule, -1 (no wait) included.
    dialog.delaySourceValue = 50;
    dialog.delayOpenValue = -1;
    forcedRefresh();
    forcedRefresh();
    EXPECT_EQ(runState.delaySource, 50);
    EXPECT_EQ(runState.delayOpen, -1);
}

TEST_F(Progress, CancelAsksOnceAndNoForgetsIt) {
    EXPECT_EQ(checkCancel(), 0);
    EXPECT_EQ(questions, 0);
    runState.cancelRequested = platform::kCancelAsk;
    runState.cancelRequested = platform::kCancelAsk;
    cancelDuringQuestion = platform::kCancelAsk;  // absorbed by the No
    EXPECT_EQ(checkCancel(), 0);
    EXPECT_EQ(checkCancel(), 0);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(lastQuestion, "KAZ|Rozidivid - Terminate program?");
    EXPECT_EQ(runState.cancelRequested.load(), 0);
    runState.cancelRequested = platform::kCancelAsk;
    answer = IDYES;
    EXPECT_NE(checkCancel(), 0);
    EXPECT_NE(runState.cancelRequested.load(), 0);
}

TEST_F(Progress, ConfirmedCancelIsNeverAskedNorForgotten) {
    runState.cancelRequested = platform::kCancelConfirmed;
    EXPECT_NE(checkCancel(), 0);
    EXPECT_EQ(questions, 0);
    // A SIGTERM while the question is open survives the No.
    runState.cancelRequested = platform::kCancelAsk;
    cancelDuringQuestion = platform::kCancelConfirmed;
    EXPECT_NE(checkCancel(), 0);
    EXPECT_EQ(questions, 1);
}

TEST_F(Progress, DisplayRefreshLeavesCancelToTheCaller) {
    runFor(5000);
    runState.cancelRequested = platform::kCancelConfirmed;
    runState.filesProcessed = 3;
    runState.forceRefresh = 1;
    refreshProgressDisplay();
    EXPECT_EQ(field(kFilesProcessedField), "3");
    EXPECT_EQ(runState.cancelRequested.load(), platform::kCancelConfirmed);
}

TEST_F(Progress, ConfirmedCancelEndsTheRunEvenWhenTheRefreshIsSkipped) {
    TempDir dir;
    std::string log = dir / "run.log";
    // Forks at the statement, so that the child writes the very log read below.
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_STOP(
        {
            runState.logFileName.assign(log.c_str());
            openLog();
            writeLog("copied a\r\n");
            runFor(5000);
            runState.cancelRequested = platform::kCancelConfirmed;
            refreshProgress();
            _exit(0);
        },
        testing::ExitedWithCode(1), "^KAZ - message\nProgram terminated due to Cancel\n$");
    GTEST_FLAG_SET(death_test_style, style);
    EXPECT_EQ(readFile(log), "copied a\r\n");
    EXPECT_FALSE(fileExists(log + ".~~~"));
}
