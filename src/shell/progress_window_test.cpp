// The progress dialog shown in this process: a scripted worker plays the
// user and the run against it while this thread shows it, as kaz.exe does.
#include "shell/progress_dialog.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/cancel_signals.h"
#include "platform/message_boxes.h"
#include "platform/win32/window_text.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "shell/delay_entry.h"
#include "shell/progress_window_ids.h"

namespace {

constexpr DWORD kLimitMs = 10000;

template <typename Done>
bool waitUntil(Done done) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= kLimitMs) return false;
        Sleep(20);
    }
    return true;
}

// The message boxes of the dialog's thread, answered OK as they come.
struct ShownBox {
    std::string caption, text;
};
std::mutex shownBoxesMutex;
std::vector<ShownBox> shownBoxes;

int recordBox(const char* text, const char* caption, UINT) {
    std::lock_guard<std::mutex> lock(shownBoxesMutex);
    shownBoxes.push_back({caption, text});
    return IDOK;
}

size_t shownBoxCount() {
    std::lock_guard<std::mutex> lock(shownBoxesMutex);
    return shownBoxes.size();
}

// Shows the dialog on the calling thread while `play` runs on a worker
// thread against the dialog's window; the worker then ends the dialog, as
// a run does, unless `endsDialog` is off.
class ShownDialog : public testing::Test {
protected:
    void SetUp() override { runState.cancelRequested = 0; }
    void TearDown() override { runState.cancelRequested = 0; }

    int show(std::function<DWORD()> play, bool endsDialog = true, bool waitsForTheScreen = true) {
        play_ = std::move(play);
        endsDialog_ = endsDialog;
        waitsForTheScreen_ = waitsForTheScreen;
        uiThread_ = GetCurrentThreadId();
        HANDLE worker = CreateThread(nullptr, 0, runWorker, this, CREATE_SUSPENDED, nullptr);
        int exitCode = showDialogModal(dialog, worker);
        CloseHandle(worker);
        return exitCode;
    }

    HWND control(int id) const { return GetDlgItem(window, id); }
    std::string text(int id) const { return platform::windowText(control(id)); }
    void setText(int id, const char* text) const {
        SendMessageA(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    void focusOn(int id) const {
        SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control(id)), TRUE);
    }
    HWND focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(uiThread_, &info);
        return info.hwndFocus;
    }
    void type(int id, const std::string& characters) const {
        for (char c : characters) SendMessageA(control(id), WM_CHAR, static_cast<WPARAM>(c), 1);
    }
    // A key the way the keyboard brings it: through the dialog's message loop.
    void press(int id, UINT key) const { PostMessageA(control(id), WM_KEYDOWN, key, 1); }
    // Posts a character after whatever was posted before and waits until the
    // box has it: everything posted earlier has been handled by then.
    bool settle() const {
        std::string before = text(IDC_DELAY_TARGET);
        PostMessageA(control(IDC_DELAY_TARGET), WM_CHAR, '7', 1);
        return waitUntil([&] { return text(IDC_DELAY_TARGET) != before; });
    }
    ProgressDialog dialog;
    HWND window = nullptr;

private:
    static DWORD WINAPI runWorker(LPVOID raw) {
        auto* self = static_cast<ShownDialog*>(raw);
        self->window = dialogWindow(&self->dialog);
        bool ready = self->waitsForTheScreen_ ? self->waitUntilShown() : self->window != nullptr;
        DWORD exitCode = ready ? self->play_() : 99;
        if (self->endsDialog_) endDialog(&self->dialog, IDC_CANCEL_RUN);
        return exitCode;
    }

    // The worker starts before the dialog is on the screen; showing it sets
    // the focus, which would undo what the test did before.
    bool waitUntilShown() const {
        if (window == nullptr || !waitUntil([&] { return IsWindowVisible(window) != FALSE; })) {
            return false;
        }
        SendMessageA(window, WM_NULL, 0, 0);
        return true;
    }

    std::function<DWORD()> play_;
    bool endsDialog_ = true;
    bool waitsForTheScreen_ = true;
    DWORD uiThread_ = 0;
};

}  // namespace

TEST_F(ShownDialog, EndsWith1003AndGivesBackTheWorkersExitCode) {
    EXPECT_EQ(show([] { return 7; }), 7);
    EXPECT_TRUE(dialog.ended);
    EXPECT_EQ(dialog.result, IDC_CANCEL_RUN);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialogWindow(&dialog), nullptr);
}

TEST_F(ShownDialog, ARunThatEndsBeforeTheDialogIsOnTheScreenStillEndsIt) {
    EXPECT_EQ(show([] { return 5; }, true, false), 5);
    EXPECT_EQ(dialog.result, IDC_CANCEL_RUN);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ShownDialog, AWorkerThatEndsWithoutEndingTheDialogStillEndsIt) {
    EXPECT_EQ(show([] { return 3; }, false), 3);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ShownDialog, FiguresAndTitleFromTheWorkerReachTheWindow) {
    bool shown = false;
    std::string runTime, files, topLine, ratio, title;
    HICON icon = nullptr;
    show([&] {
        setDialogTitle(&dialog, "KAZ C:\\src D:\\mirror");
        setDialogField(&dialog, kRunTimeField, "        12.345");
        setDialogField(&dialog, kFilesProcessedField, "42");
        setDialogField(&dialog, kTopLineField, "C:\\src\\report.doc");
        setDialogField(&dialog, kCompressionRatioField, "*****:1");
        repaintDialog(&dialog);
        shown = waitUntil([&] { return text(IDC_COMPRESSION_RATIO) == "*****:1"; });
        runTime = text(IDC_RUN_TIME);
        files = text(IDC_FILES_PROCESSED);
        topLine = text(IDC_TOP_LINE);
        title = platform::windowText(window);
        icon = reinterpret_cast<HICON>(SendMessageA(window, WM_QUERYDRAGICON, 0, 0));
        return 0;
    });
    ASSERT_TRUE(shown);
    EXPECT_EQ(runTime, "        12.345");
    EXPECT_EQ(files, "42");
    EXPECT_EQ(topLine, "C:\\src\\report.doc");
    EXPECT_EQ(title, "KAZ C:\\src D:\\mirror");
    EXPECT_EQ(dialogField(&dialog, kFilesProcessedField), "42");
    EXPECT_NE(icon, nullptr);
}

TEST_F(ShownDialog, DelayBoxesShowTheValuesTheRunGivesThem) {
    std::string before, after;
    show([&] {
        before = text(IDC_DELAY_SOURCE);
        // The first refresh of a run puts the command-line delays there.
        dialog.delaySourceValue = 20;
        repaintDialog(&dialog);
        waitUntil([&] { return text(IDC_DELAY_SOURCE) == "20"; });
        after = text(IDC_DELAY_OPEN) + " " + text(IDC_DELAY_SOURCE) + " " + text(IDC_DELAY_TARGET);
        return 0;
    });
    EXPECT_EQ(before, "-1");
    EXPECT_EQ(after, "-1 20 -1");
}

TEST_F(ShownDialog, EnterInADelayBoxHandsAllThreeOverAndFocusesCancel) {
    bool focusedCancel = false;
    show([&] {
        setText(IDC_DELAY_OPEN, "0");
        setText(IDC_DELAY_SOURCE, "50");
        setText(IDC_DELAY_TARGET, "10000");
        focusOn(IDC_DELAY_SOURCE);
        press(IDC_DELAY_SOURCE, VK_RETURN);
        focusedCancel = waitUntil([&] { return focus() == control(IDC_CANCEL_RUN); });
        return 0;
    });
    EXPECT_TRUE(focusedCancel);
    EXPECT_EQ(dialog.delayOpenValue.load(), 0);
    EXPECT_EQ(dialog.delaySourceValue.load(), 50);
    EXPECT_EQ(dialog.delayTargetValue.load(), 10000);
    EXPECT_EQ(runState.cancelRequested.load(), 0);
}

TEST_F(ShownDialog, ABadDelayIsComplainedAboutAndNoneIsHandedOver) {
    shownBoxes.clear();
    platform::setMessageBoxPresenter(recordBox);
    bool focusStayed[2] = {false, false};
    show([&] {
        setText(IDC_DELAY_OPEN, "5");
        setText(IDC_DELAY_SOURCE, "20000");
        setText(IDC_DELAY_TARGET, "-");
        for (size_t round = 0; round < 2; ++round) {
            focusOn(IDC_DELAY_OPEN);
            press(IDC_DELAY_OPEN, VK_RETURN);
            // The box complained about keeps the focus once the message is answered.
            int bad = round == 0 ? IDC_DELAY_SOURCE : IDC_DELAY_TARGET;
            focusStayed[round] = waitUntil([&] {
                return shownBoxCount() == round + 1 && focus() == control(bad);
            });
            setText(IDC_DELAY_SOURCE, "20");
        }
        return 0;
    });
    platform::setMessageBoxPresenter(nullptr);
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[0].caption, "KAZ");
    EXPECT_EQ(shownBoxes[0].text, kDelayOutOfRange);
    EXPECT_EQ(shownBoxes[1].caption, "KAZ");
    EXPECT_EQ(shownBoxes[1].text, kDelayNotAnInteger);
    EXPECT_TRUE(focusStayed[0]);
    EXPECT_TRUE(focusStayed[1]);
    EXPECT_EQ(dialog.delayOpenValue.load(), -1);
    EXPECT_EQ(dialog.delaySourceValue.load(), -1);
    EXPECT_EQ(dialog.delayTargetValue.load(), -1);
}

TEST_F(ShownDialog, EnterOnCancelOrACounterDoesNothing) {
    bool settled = false;
    HWND focusAfter = nullptr, cancel = nullptr;
    show([&] {
        cancel = control(IDC_CANCEL_RUN);
        setText(IDC_DELAY_OPEN, "30");
        focusOn(IDC_FILES_PROCESSED);
        press(IDC_FILES_PROCESSED, VK_RETURN);
        focusOn(IDC_CANCEL_RUN);
        press(IDC_CANCEL_RUN, VK_RETURN);
        settled = settle();
        focusAfter = focus();
        return 0;
    });
    ASSERT_TRUE(settled);
    EXPECT_EQ(runState.cancelRequested.load(), 0);
    EXPECT_EQ(dialog.delayOpenValue.load(), -1);
    EXPECT_EQ(focusAfter, cancel);
}

TEST_F(ShownDialog, TheFilterDropsLettersAndASecondMinus) {
    std::string steps[5];
    show([&] {
        setText(IDC_DELAY_OPEN, "12");
        SendMessageA(control(IDC_DELAY_OPEN), EM_SETSEL, 2, 2);
        type(IDC_DELAY_OPEN, "a");
        steps[0] = text(IDC_DELAY_OPEN);
        type(IDC_DELAY_OPEN, "-");
        steps[1] = text(IDC_DELAY_OPEN);
        type(IDC_DELAY_OPEN, "-x.");
        steps[2] = text(IDC_DELAY_OPEN);
        type(IDC_DELAY_OPEN, "5");
        steps[3] = text(IDC_DELAY_OPEN);
        type(IDC_DELAY_OPEN, "\b\b");
        steps[4] = text(IDC_DELAY_OPEN);
        return 0;
    });
    EXPECT_EQ(steps[0], "12");
    EXPECT_EQ(steps[1], "12-");
    EXPECT_EQ(steps[2], "12-");
    EXPECT_EQ(steps[3], "12-5");
    EXPECT_EQ(steps[4], "12");
}

TEST_F(ShownDialog, CancelEscapeAndTheCloseBoxAskWithoutClosing) {
    int32_t requests[3] = {0, 0, 0};
    bool stillShown = true;
    show([&] {
        auto requestBy = [&](auto poke) {
            runState.cancelRequested = 0;
            poke();
            waitUntil([] { return runState.cancelRequested.load() != 0; });
            stillShown = stillShown && IsWindowVisible(window);
            return runState.cancelRequested.load();
        };
        requests[0] = requestBy([&] { PostMessageA(control(IDC_CANCEL_RUN), BM_CLICK, 0, 0); });
        requests[1] = requestBy([&] {
            focusOn(IDC_DELAY_SOURCE);
            press(IDC_DELAY_SOURCE, VK_ESCAPE);
        });
        requests[2] = requestBy([&] { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); });
        return 0;
    });
    for (int32_t request : requests) EXPECT_EQ(request, platform::kCancelAsk);
    EXPECT_TRUE(stillShown);
}

TEST_F(ShownDialog, ACancelAlreadyConfirmedStaysConfirmed) {
    bool settled = false;
    show([&] {
        runState.cancelRequested = platform::kCancelConfirmed;
        PostMessageA(control(IDC_CANCEL_RUN), BM_CLICK, 0, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
        settled = settle();
        return 0;
    });
    ASSERT_TRUE(settled);
    EXPECT_EQ(runState.cancelRequested.load(), platform::kCancelConfirmed);
}

TEST_F(ShownDialog, TheSpinArrowsStepWithinTheRangeAndHandNothingOver) {
    std::string steps[3];
    show([&] {
        auto stepFrom = [&](const char* start, UINT key) {
            setText(IDC_DELAY_TARGET, start);
            SendMessageA(control(IDC_DELAY_TARGET), WM_KEYDOWN, key, 1);
            SendMessageA(control(IDC_DELAY_TARGET), WM_KEYUP, key, 1);
            return text(IDC_DELAY_TARGET);
        };
        steps[0] = stepFrom("41", VK_UP);
        steps[1] = stepFrom("10000", VK_UP);
        steps[2] = stepFrom("-1", VK_DOWN);
        return 0;
    });
    EXPECT_EQ(steps[0], "42");
    EXPECT_EQ(steps[1], "10000");
    EXPECT_EQ(steps[2], "-1");
    EXPECT_EQ(dialog.delayTargetValue.load(), -1);
}
