#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/message_boxes.h"
#include "platform/windows_api.h"

namespace {

struct BoxSeen {
    std::string text, caption;
    UINT type = 0;
    int count = 0;
};
BoxSeen seen;
int answer = IDOK;

int present(const char* text, const char* caption, UINT type) {
    seen.text = text;
    seen.caption = caption;
    seen.type = type;
    ++seen.count;
    return answer;
}

class WindowsMessageBox : public testing::Test {
protected:
    void SetUp() override {
        seen = BoxSeen{};
        platform::setMessageBoxPresenter(present);
    }
    void TearDown() override { platform::setMessageBoxPresenter(nullptr); }
};

TEST_F(WindowsMessageBox, PresenterReadsTheRealBoxAndPressesItsAnswer) {
    answer = IDNO;
    EXPECT_EQ(platform::plainMessageBox("Do you wish to proceed?", "KAZ", MB_YESNO), IDNO);
    EXPECT_EQ(seen.text, "Do you wish to proceed?");
    EXPECT_EQ(seen.caption, "KAZ");
    EXPECT_EQ(seen.type, static_cast<UINT>(MB_YESNO));
    answer = IDYES;
    EXPECT_EQ(platform::plainMessageBox("Again?", "KAZ", MB_YESNO), IDYES);
    answer = IDCANCEL;
    EXPECT_EQ(platform::plainMessageBox("Stop?", "KAZ - message", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(seen.type, static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(seen.count, 3);
}

TEST_F(WindowsMessageBox, AnswerWithoutItsButtonTakesTheBoxDefault) {
    answer = IDYES;
    EXPECT_EQ(platform::plainMessageBox("Only OK here.", "KAZ - message", MB_OK), IDOK);
    EXPECT_EQ(seen.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(platform::plainMessageBox("OK or Cancel.", "KAZ", MB_OKCANCEL), IDCANCEL);
}

TEST_F(WindowsMessageBox, BoxesOfThreadsStartedLaterAreAnsweredToo) {
    answer = IDCANCEL;
    int result = 0;
    std::thread worker([&] {
        result = platform::plainMessageBox("From the worker", "KAZ", MB_YESNOCANCEL);
    });
    worker.join();
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(seen.text, "From the worker");
    EXPECT_EQ(seen.type, static_cast<UINT>(MB_YESNOCANCEL));
}

}  // namespace
