#include "run/final_report.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/windows_api.h"
#include "report/run_state.h"
#include "support/text_buffer.h"
#include "test_support.h"

namespace {

class FinalReportTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }

    void exceptions(int n) {
        for (int i = 0; i < n; ++i)
            addException(("e" + std::to_string(i)).c_str(), "t", ERROR_ACCESS_DENIED, 0);
    }
    void busy(int n) {
        for (int i = 0; i < n; ++i)
            addBusyFile(("b" + std::to_string(i)).c_str(), "t", ERROR_SHARING_VIOLATION);
    }
    std::string report() {
        TextBuffer text(1000u);
        buildClosingMessage(text);
        return text.text();
    }
};

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const char* const kMore = "more... Suggest you use log file\r\n";

}  // namespace

TEST_F(FinalReportTest, NothingToReport) { EXPECT_EQ(report(), "KAZ completed without error"); }

TEST_F(FinalReportTest, DeleteLimitIsToldAndTheRunIsNotWithoutError) {
    runState.limitDelete = 0;
    runState.entriesKeptByLimit = 3;
    EXPECT_EQ(report(), "KAZ - Delete limit of 0 reached: 3 entries not removed\r\n");
    exceptions(1);
    std::string text = report();
    EXPECT_EQ(text.rfind("KAZ - Delete limit of 0 reached: 3 entries not removed\r\n"
                         "-------- Exception List --------\r\n",
                         0),
              0u)
        << text;
}

TEST_F(FinalReportTest, WorkLeftUndoneOutsideTheListsIsNotWithoutError) {
    runState.attributesNotCarried = 4;
    runState.copiedNotVerified = 2;
    EXPECT_EQ(report(),
              "KAZ - Extended attributes not carried: entries 4\r\n"
              "KAZ - Copied, not verified: files 2\r\n");
}

TEST_F(FinalReportTest, EightExceptionsFitNineDoNot) {
    exceptions(8);
    std::string eight = report();
    EXPECT_EQ(count(eight, "KAZ - ERROR_ACCESS_DENIED(5)\r\n"), 8);
    EXPECT_EQ(count(eight, kMore), 0);
    exceptions(1);
    std::string nine = report();
    EXPECT_EQ(count(nine, "KAZ - "), 8);
    EXPECT_EQ(nine.substr(nine.size() - std::string(kMore).size()), kMore);
}

TEST_F(FinalReportTest, BusyPartFillsWhatTheExceptionsLeft) {
    exceptions(3);
    busy(10);
    std::string text = report();
    EXPECT_EQ(count(text, "KAZ - "), 3);
    EXPECT_EQ(count(text, "32 - ERROR_SHARING_VIOLATION\r\n"), 4);
    EXPECT_EQ(count(text, kMore), 1);
}

TEST_F(FinalReportTest, BusyPartAlwaysShowsItsFirstEntry) {
    exceptions(9);
    busy(2);
    std::string text = report();
    EXPECT_EQ(count(text, "KAZ - "), 8);
    EXPECT_EQ(count(text, ":-------- File Busy List --------\r\n"), 1);
    EXPECT_EQ(count(text, "32 - ERROR_SHARING_VIOLATION\r\nb0 t\r\n"), 1);
    EXPECT_EQ(count(text, kMore), 2);
}

TEST_F(FinalReportTest, BusyFilesAlone) {
    busy(10);
    std::string text = report();
    EXPECT_EQ(text.rfind(":-------- File Busy List --------\r\n", 0), 0u);
    EXPECT_EQ(count(text, " - ERROR_SHARING"), 8);
    EXPECT_EQ(count(text, kMore), 1);
}

TEST_F(FinalReportTest, EntriesWithoutCodeShowTheirResultMessage) {
    addException("src/a", "dst/a", 0, 4);
    addEntry(runState.busyList, "src/b", "dst/b", 0, 2);
    EXPECT_EQ(report(),
              "-------- Exception List --------\r\n"
              "KAZ - Files of different length\r\nsrc/a dst/a\r\n"
              ":-------- File Busy List --------\r\n"
              "Source file not found\r\nsrc/b dst/b\r\n");
}
