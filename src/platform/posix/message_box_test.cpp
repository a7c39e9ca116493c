#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "platform/closing_report.h"
#include "platform/message_boxes.h"
#include "platform/windows_api.h"

namespace {
std::string shown;
int presentAndSayYes(const char* text, const char* caption, UINT) {
    shown = std::string(caption) + "|" + text;
    return IDYES;
}
}  // namespace

TEST(MessageBox, CaptionThenTextWithPlainLineEnds) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "first\r\nsecond\r\n", "KAZ - message", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KAZ - message\nfirst\nsecond\n");
}

TEST(MessageBox, PresenterTakesOverWhileInstalled) {
    platform::setMessageBoxPresenter(presentAndSayYes);
    EXPECT_EQ(MessageBoxA(nullptr, "Terminate?", "KAZ", MB_YESNO), IDYES);
    platform::setMessageBoxPresenter(nullptr);
    EXPECT_EQ(shown, "KAZ|Terminate?");
}

TEST(MessageBoxDeathTest, QuestionWithoutATerminalIsAnsweredNo) {
    EXPECT_EXIT(
        {
            setsid();  // leaves the controlling terminal behind
            exit(MessageBoxA(nullptr, "Proceed?", "KAZ", MB_YESNO));
        },
        testing::ExitedWithCode(IDNO), "KAZ\nProceed\\?\n\\(no terminal to answer on: taking No\\)");
}

TEST(Report, GoesToStandardOutput) {
    testing::internal::CaptureStdout();
    platform::showReport("KAZ completed without error", "KAZ - message");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "KAZ - message\nKAZ completed without error\n");
}
