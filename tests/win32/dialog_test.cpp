// The progress dialog of kaz.exe as a user meets it: its controls during a
// run, the delay boxes, Cancel with its question, and the end of the run.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

// The Windows declarations come with the support header; the common
// controls' header needs them first.
#include "win32/win_support.h"
#include <commctrl.h>

using namespace wintest;

namespace {

constexpr DWORD kLimitMs = 30000;

// Control ids of the dialog.
constexpr int kCancel = 1003, kTopLine = 1005, kFilesProcessed = 1011, kRunTime = 1023;
constexpr int kOpen = 1024, kSource = 1025, kTarget = 1026;
constexpr int kCounters[] = {1005, 1011, 1012, 1014, 1015, 1016, 1017,
                             1018, 1019, 1020, 1021, 1022, 1023, 1041};
constexpr int kDelayBoxes[] = {kOpen, kSource, kTarget};
constexpr int kSpins[] = {1033, 1035, 1037};

template <typename Done>
bool waitUntil(Done done, DWORD limitMs = kLimitMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= limitMs) return false;
        Sleep(50);
    }
    return true;
}

std::string classOf(HWND window) {
    char name[64];
    int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

BOOL CALLBACK collectText(HWND child, LPARAM data) {
    reinterpret_cast<std::set<std::string>*>(data)->insert(controlText(child));
    return TRUE;
}

// A source tree of `count` small files under `folder`\src.
void makeSource(const TempFolder& folder, int count) {
    for (int i = 0; i < count; ++i) {
        writeFile(folder / ("src\\file" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
    }
}

// kaz.exe mirroring a source tree slowly (each open waits `delayOpen` ms),
// with its progress dialog on the screen.
class SlowRun : public testing::Test {
protected:
    void start(int files, int delayOpen) {
        makeSource(folder, files);
        kaz = std::make_unique<KazProcess>(std::vector<std::string>{
            folder / "src", folder / "tgt", folder / "run.log", "/nowarn",
            "/delayopen=" + std::to_string(delayOpen)});
        dialog = waitForProgressDialog(*kaz, kLimitMs);
        // Once this comes back the dialog has been shown and has set its
        // first focus, which would undo a focus set before.
        if (dialog != nullptr) settle();
    }
    HWND control(int id) const { return GetDlgItem(dialog, id); }
    std::string text(int id) const { return controlText(control(id)); }
    void setText(int id, const char* text) const {
        SendMessageA(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    void type(int id, const std::string& characters) const {
        for (char c : characters) SendMessageA(control(id), WM_CHAR, static_cast<WPARAM>(c), 1);
    }
    void focusOn(int id) const {
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control(id)), TRUE);
    }
    // A key through the dialog's message loop, as the keyboard brings it.
    void press(int id, UINT key) const { PostMessageA(control(id), WM_KEYDOWN, key, 1); }
    HWND focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
        return info.hwndFocus;
    }
    // Waits for a message box and answers it; returns what it said. Once the
    // box has gone the dialog is enabled and has taken back the activation,
    // so that keys sent next reach it.
    MessageBoxSeen answerNextBox(int button) const {
        MessageBoxSeen box;
        if (waitForMessageBox(*kaz, kLimitMs, box)) {
            answerMessageBox(box.window, button);
            waitForWindowGone(box.window, kLimitMs);
            waitUntil([&] { return IsWindowEnabled(dialog) != FALSE; });
            settle();
        }
        return box;
    }
    // After No the run clears the request only once its message box is
    // gone, and forgets a Cancel made before that; a new file counted shows
    // that it has gone on.
    bool waitForTheRunToGoOn(const std::string& countBefore) const {
        return waitUntil([&] { return text(kFilesProcessed) != countBefore; });
    }
    // Returns when the dialog's thread has handled everything sent before.
    void settle() const { SendMessageTimeoutA(dialog, WM_NULL, 0, 0, 0, kLimitMs, nullptr); }

    TempFolder folder;
    std::unique_ptr<KazProcess> kaz;
    HWND dialog = nullptr;
};

}  // namespace

TEST_F(SlowRun, TheDialogShowsEveryControlWithItsLabelAndTheRunsFigures) {
    start(40, 500);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(windowText(dialog), "KAZ " + quoteArgument(folder / "src") + " " +
                                      quoteArgument(folder / "tgt") + " " +
                                      quoteArgument(folder / "run.log") + " /nowarn /delayopen=500");
    for (int id : kCounters) {
        HWND box = control(id);
        ASSERT_NE(box, nullptr) << id;
        EXPECT_EQ(classOf(box), "Edit") << id;
        EXPECT_TRUE(GetWindowLongA(box, GWL_STYLE) & ES_READONLY) << id;
    }
    for (int i = 0; i < 3; ++i) {
        HWND box = control(kDelayBoxes[i]), spin = control(kSpins[i]);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(classOf(box), "Edit");
        EXPECT_FALSE(GetWindowLongA(box, GWL_STYLE) & ES_READONLY);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(classOf(spin), UPDOWN_CLASSA);
        EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(spin, UDM_GETBUDDY, 0, 0)), box);
        LRESULT range = SendMessageA(spin, UDM_GETRANGE, 0, 0);
        EXPECT_EQ(static_cast<short>(HIWORD(range)), -1);
        EXPECT_EQ(static_cast<short>(LOWORD(range)), 10000);
    }
    EXPECT_EQ(classOf(control(kCancel)), "Button");
    EXPECT_EQ(text(kCancel), "Cancel");
    std::set<std::string> texts;
    EnumChildWindows(dialog, collectText, reinterpret_cast<LPARAM>(&texts));
    for (const char* label :
         {"Actual", "Virtual", "Delays", "Run Time", "Files Processed", "Megabytes Processed",
          "Files Created", "Files Deleted", "Folders Created", "Folders Deleted",
          "Megabytes/Minute", "V-Compression Ratio", "Busy Files", "Exception Files", "Open",
          "Source", "Target"}) {
        EXPECT_EQ(texts.count(label), 1u) << label;
    }
    // The run fills the boxes while it goes on.
    EXPECT_TRUE(waitUntil([&] { return text(kFilesProcessed) != "" && text(kFilesProcessed) != "0"; }));
    EXPECT_NE(text(kTopLine).find(folder / "src\\file"), std::string::npos) << text(kTopLine);
    EXPECT_NE(text(kRunTime), "");
    EXPECT_EQ(text(kOpen), "500");
    EXPECT_TRUE(kaz->running());
}

TEST_F(SlowRun, ADelayEnteredInItsBoxReachesTheRun) {
    // 30 files at 2 s an open would take a minute.
    start(30, 2000);
    ASSERT_NE(dialog, nullptr);
    // The box shows the command line's delay once the run has started.
    ASSERT_TRUE(waitUntil([&] { return text(kOpen) == "2000"; }));
    setText(kOpen, "0");
    focusOn(kOpen);
    press(kOpen, VK_RETURN);
    EXPECT_TRUE(waitUntil([&] { return focus() == control(kCancel); }));
    ASSERT_TRUE(kaz->wait(kLimitMs));
    EXPECT_EQ(kaz->exitCode(), 0);
    EXPECT_TRUE(fileExists(folder / "tgt\\file29.txt"));
    EXPECT_NE(readFile(folder / "run.log").find(":None - Source and Target synchronized."),
              std::string::npos);
}

TEST_F(SlowRun, DelayBoxesRefuseWhatNoDelayCanBe) {
    start(40, 500);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(waitUntil([&] { return text(kSource) == "0"; }));
    setText(kSource, "2");
    SendMessageA(control(kSource), EM_SETSEL, 1, 1);
    type(kSource, "x0-.-");
    EXPECT_EQ(text(kSource), "20-");
    setText(kSource, "20000");
    focusOn(kSource);
    press(kSource, VK_RETURN);
    MessageBoxSeen box = answerNextBox(IDOK);
    EXPECT_EQ(box.caption, "KAZ");
    EXPECT_EQ(box.text, "Please enter an integer between -1 and 10000.");
    EXPECT_TRUE(waitUntil([&] { return focus() == control(kSource); }));
    setText(kSource, "-");
    press(kSource, VK_RETURN);
    box = answerNextBox(IDOK);
    EXPECT_EQ(box.text, "Please enter an integer.");
    EXPECT_TRUE(kaz->running());
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(SlowRun, CancelAsksNoGoesOnAndYesEndsTheRun) {
    // 200 files at half a second an open: the run goes on while it is asked.
    start(200, 500);
    ASSERT_NE(dialog, nullptr);
    PostMessageA(control(kCancel), BM_CLICK, 0, 0);
    MessageBoxSeen box = answerNextBox(IDNO);
    EXPECT_EQ(box.caption, "KAZ");
    EXPECT_EQ(box.text, "Rozidivid - Terminate program?");
    ASSERT_TRUE(waitForTheRunToGoOn(text(kFilesProcessed)));
    // Neither Esc nor the close box closes the dialog: they ask too.
    focusOn(kOpen);
    press(kOpen, VK_ESCAPE);
    box = answerNextBox(IDNO);
    EXPECT_EQ(box.text, "Rozidivid - Terminate program?");
    EXPECT_TRUE(IsWindowVisible(dialog));
    ASSERT_TRUE(waitForTheRunToGoOn(text(kFilesProcessed)));
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    box = answerNextBox(IDYES);
    EXPECT_EQ(box.text, "Rozidivid - Terminate program?");
    box = answerNextBox(IDOK);
    EXPECT_EQ(box.caption, "KAZ - message");
    EXPECT_EQ(box.text, "Program terminated due to Cancel");
    ASSERT_TRUE(kaz->wait(kLimitMs));
    EXPECT_EQ(kaz->exitCode(), 1);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(fileExists(folder / "run.log"));
    EXPECT_FALSE(fileExists(folder / "run.log.~~~"));
    EXPECT_FALSE(fileExists(folder / "tgt\\file199.txt"));
}

TEST_F(SlowRun, TheDialogClosesByItselfAtTheEndOfTheRun) {
    start(5, 300);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(kaz->wait(kLimitMs));
    EXPECT_EQ(kaz->exitCode(), 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(fileExists(folder / "tgt\\file4.txt"));
}
