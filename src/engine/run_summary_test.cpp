#include "engine/run_summary.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "platform/cancel_signals.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/progress_dialog.h"
#include "report/progress_text.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "run_as_worker.h"
#include "test_support.h"

namespace {


class EndReport : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        runState.progressDialog = &dialog;
        runState.logFileName.assign(log.c_str());
        openLog();
        ranFor(5000);
    }
    void TearDown() override {
        closeLog();
        runState.scriptHandle = INVALID_HANDLE_VALUE;
        resetRunState();
    }
    void ranFor(uint32_t elapsed) { runState.runStartTicks = timeGetTime() - elapsed; }
    // The log as the report leaves it.
    std::string report() {
        writeEndReport();
        closeLog();
        return readFile(log);
    }
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            out.push_back(text.substr(start, end - start));
        return out;
    }
    static std::string lineStarting(const std::string& text, const std::string& head) {
        for (const std::string& line : lines(text)) {
            if (line.rfind(head, 0) == 0) return line;
        }
        return "(no line " + head + ")";
    }
    std::string perMinute() { return dialogField(&dialog, kMegabytesPerMinuteField); }

    ProgressDialog dialog;
    TempDir dir;
    std::string log = dir / "run.log";
};

}  // namespace

TEST_F(EndReport, TreeRunWritesEveryStatisticInItsColumn) {
    ranFor(600000);
    runState.totalDirectoriesConsidered = 1;
    runState.totalDirectoriesCreated = 2;
    runState.totalDirectoriesDeleted = 3;
    runState.totalFilesConsidered = 40;
    runState.totalFilesCopied = 5;
    runState.exceptionCount = 6;
    runState.totalFilesDeleted = 7;
    runState.totalFilesExcluded = 8;
    runState.busySourceOpens = 9;
    runState.busyTargetOpens = 10;
    runState.bytesCopied = 12000000;
    runState.virtualBytesCopied = 60000000;
    runState.estimatedClusters = 11;
    runState.blocks1024 = 1025;
    runState.blocks512 = 13;
    EXPECT_EQ(report(),
              ":-------- End of File Copy List --------\r\n"
              ": KAZ run time:                 10:00\r\n"
              ": Total directories considered: 1\r\n"
              ": Total directories created:    2\r\n"
              ": Total directories deleted:    3\r\n"
              ": Total files considered:       40\r\n"
              ": Total files copied:           5\r\n"
              ": Total files copied in error:  6\r\n"
              ": Total files deleted:          7\r\n"
              ": Total files excluded:         8\r\n"
              ": Total busy source opens:      9\r\n"
              ": Total busy target opens:      10\r\n"
              ": Total bytes copied:           12000000\r\n"
              ": Total virtual bytes copied:   60000000\r\n"
              ": Estimated Clusters used       11\r\n"
              ": 1024 byte blocks used         1025\r\n"
              ": 512 byte blocks used          13\r\n"
              ": Estimated MB of tape used     2\r\n"
              ": Virtual Compression ratio:    5.000:1\r\n"
              ": Virtual MB/minute:            6.000\r\n"
              ": \r\n"
              ":COPY\r\n"
              ":None - Source and Target synchronized.\r\n");
    EXPECT_EQ(perMinute(), "6.000");  // the figure the display showed last
}

TEST_F(EndReport, RunTimeInItsThreeForms) {
    for (auto [elapsed, pattern] :
         {std::pair{30000u, ": KAZ run time: {18}30\\.[0-9]{3}"},
          {60000u, ": KAZ run time: {18}1:00"},
          {3723000u, ": KAZ run time: {15}1:02:03"}}) {
        closeLog();
        SetUp();
        ranFor(elapsed);
        EXPECT_TRUE(
            std::regex_match(lineStarting(report(), ": KAZ run time:"), std::regex(pattern)))
            << elapsed;
    }
}

TEST_F(EndReport, VerifyRunWithNothingCopied) {
    runState.verify = 1;
    runState.totalFilesCopied = 4;
    runState.virtualBytesCopied = 4000;
    std::string text = report();
    EXPECT_EQ(text.rfind(":-------- End of File Verify List --------\r\n", 0), 0u);
    EXPECT_EQ(lineStarting(text, ": Total files copied:"), ": Total files copied:           4");
    EXPECT_EQ(lineStarting(text, ": Virtual Compression ratio:"),
              ": Virtual Compression ratio:    ****:1");
}

TEST_F(EndReport, TapeMegabytesRoundUp) {
    for (auto [blocks, megabytes] : {std::pair{0, "0"}, {1, "1"}, {1024, "1"}, {1025, "2"}}) {
        closeLog();
        SetUp();
        runState.blocks1024 = blocks;
        EXPECT_EQ(lineStarting(report(), ": Estimated MB of tape"),
                  std::string(": Estimated MB of tape used     ") + megabytes)
            << blocks;
    }
}

TEST_F(EndReport, TrialRunKeepsTheValuesInOneColumn) {
    runState.trialRun = 1;
    runState.totalFilesCopied = 3;
    std::string text = report();
    EXPECT_EQ(lineStarting(text, ": Total files to be copied:"),
              ": Total files to be copied:           3");
    std::vector<std::string> all = lines(text);
    auto first = std::find(all.begin(), all.end(), ": Total directories to be considered: 0");
    ASSERT_NE(first, all.end());
    for (auto line = first; line != first + 16; ++line) {
        EXPECT_EQ(line->find_last_of(' ') + 1, 38u) << *line;
    }
    EXPECT_EQ(*(first + 16), ": Virtual Compression ratio:    ****:1");
    EXPECT_EQ((first + 17)->rfind(": Virtual MB/minute:            ", 0), 0u);
}

TEST_F(EndReport, VerifyReplayWritesVerifiedLabels) {
    runState.scriptHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(12345));
    runState.verify = 1;
    runState.totalFilesConsidered = 9;
    runState.totalFilesCopied = 7;
    runState.exceptionCount = 2;
    runState.bytesCopied = 123456;
    std::string text = report();
    size_t statistics = text.find(": Total files considered:");
    ASSERT_NE(statistics, std::string::npos);
    EXPECT_EQ(text.substr(statistics),
              ": Total files considered:       9\r\n"
              ": Total files verified:         7\r\n"
              ": Total files verified in error:2\r\n"
              ": Total bytes verified:         123456\r\n"
              ": Total busy source opens:      0\r\n"
              ": Total busy target opens:      0\r\n"
              ": MB/minute:                    " + perMinute() + "\r\n"
              ": \r\n"
              ":COPY\r\n"
              ":None - Source and Target synchronized.\r\n");
    EXPECT_EQ(text.find("directories"), std::string::npos);
}

TEST_F(EndReport, CopyReplayWritesTheEstimates) {
    runState.scriptHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(12345));
    runState.trialRun = 1;
    runState.totalFilesCopied = 2;
    runState.estimatedClusters = 2;
    runState.blocks1024 = 34;
    runState.blocks512 = 66;
    std::string text = report();
    size_t statistics = text.find(": Total files to be considered:");
    ASSERT_NE(statistics, std::string::npos);
    EXPECT_EQ(text.substr(statistics),
              ": Total files to be considered:       0\r\n"
              ": Total files to be copied:           2\r\n"
              ": Total files to be copied in error:  0\r\n"
              ": Estimated Clusters to be used       2\r\n"
              ": 1024 byte blocks to be used         34\r\n"
              ": 512 byte blocks to be used          66\r\n"
              ": Estimated MB of tape to be used     1\r\n"
              ": Total busy source opens:            0\r\n"
              ": Total busy target opens:            0\r\n"
              ": MB/minute:                    " + perMinute() + "\r\n"
              ": \r\n"
              ":COPY\r\n"
              ":None - Source and Target synchronized.\r\n");
}

TEST_F(EndReport, ExceptionListNamesTheErrorOrTheResult) {
    addException("/src/a b.doc", "/dst/a b.doc", ERROR_ACCESS_DENIED, 0);
    addException("/src/c", "/dst/c", 0, kDifferentLength);
    std::string text = report();
    std::string expected =
        ":-------- End of File Copy List --------\r\n"
        ":-------- Exception List --------\r\n"
        ": KAZ - ERROR_ACCESS_DENIED(5)\r\n"
        ": \"/src/a b.doc\" \"/dst/a b.doc\"\r\n"
        ": KAZ - Files of different length\r\n"
        ": /src/c /dst/c\r\n"
        ":-------- End of Exception List --------\r\n"
        ": KAZ run time:";
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_EQ(lineStarting(text, ": Total files copied in error:"),
              ": Total files copied in error:  2");
}

// What the delete limit kept is told after the exceptions, in a line a
// replay passes over.
TEST_F(EndReport, DeleteLimitLineFollowsTheExceptionList) {
    addException("/src/c", "/dst/c", 0, kDifferentLength);
    runState.limitDelete = 10;
    runState.entriesRemoved = 10;
    runState.entriesKeptByLimit = 25;
    std::string text = report();
    std::string expected =
        ":-------- End of Exception List --------\r\n"
        ": KAZ - Delete limit of 10 reached: 25 entries not removed\r\n"
        ": KAZ run time:";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(EndReport, NoDeleteLimitLineWhenTheLimitKeptNothing) {
    runState.limitDelete = 0;
    EXPECT_EQ(report().find("Delete limit"), std::string::npos);
}

TEST_F(EndReport, FilesStillBusyAfterTheRetryAreListedForRecopy) {
    std::string source = dir / "held file.doc", target = dir / "copy.doc";
    writeFile(source, "contents");
    // Another reader holds it open; a copy that shares nothing finds it busy.
    HANDLE reader = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    runState.noShare = 1;
    runState.transferBuffer1 = static_cast<char*>(heapAllocate(131072));
    runState.transferBuffer2 = static_cast<char*>(heapAllocate(131072));
    runState.delayOpen = runState.delaySource = runState.delayTarget = -1;
    addBusyFile(source.c_str(), target.c_str(), ERROR_SHARING_VIOLATION);
    std::string text = report();
    EXPECT_EQ(text.substr(text.find(":COPY\r\n")),
              ":COPY\r\n"
              ":-------- File Recopy List --------\r\n"
              ": Due to error 32 - ERROR_SHARING_VIOLATION\r\n"
              "COPY \"" + source + "\" " + target + "\r\n"
              ":-------- End of File Recopy List --------\r\n");
    EXPECT_EQ(runState.transferBuffer1, nullptr);
    EXPECT_EQ(runState.transferBuffer2, nullptr);
    CloseHandle(reader);
}

TEST_F(EndReport, WithoutALogNothingIsWrittenButTheBuffersAreFreed) {
    closeLog();
    std::remove(log.c_str());
    runState.transferBuffer1 = static_cast<char*>(heapAllocate(131072));
    runState.transferBuffer2 = static_cast<char*>(heapAllocate(131072));
    runState.virtualBytesCopied = 1000;
    writeEndReport();
    EXPECT_EQ(runState.transferBuffer1, nullptr);
    EXPECT_EQ(runState.transferBuffer2, nullptr);
    EXPECT_FALSE(fileExists(log));
    EXPECT_FALSE(fileExists(log + ".~~~"));
    // The forced refresh still brought the display up to date.
    EXPECT_EQ(dialogField(&dialog, kVirtualMegabytesField), "0.001");
}

TEST_F(EndReport, CancelAtTheRefreshEndsTheReportAfterTheExceptionList) {
    addException("/src/c", "/dst/c", ERROR_ACCESS_DENIED, 0);
    // Forks at the statement, so that the child writes the very log read below.
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "fast");
    // The child opens the log afresh: where death tests run in a new process
    // (Windows), the parent's open log would refuse it, being unshared.
    closeLog();
    EXPECT_STOP(
        {
            openLog();
            runState.cancelRequested = platform::kCancelConfirmed;
            writeEndReport();
            _exit(0);
        },
        testing::ExitedWithCode(1), "Program terminated due to Cancel");
    GTEST_FLAG_SET(death_test_style, style);
    std::string text = readFile(log);
    std::string last = ":-------- End of Exception List --------\r\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    EXPECT_EQ(text.find("run time"), std::string::npos);
}
