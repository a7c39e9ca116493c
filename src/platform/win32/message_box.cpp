// Message boxes and the closing report are real Windows message boxes.
// A presenter, once installed, answers the boxes of every thread: a CBT hook
// on each thread sees a box as it is activated, hands its caption and text
// to the presenter and presses the button the presenter names.
#include <atomic>
#include <string>

#include "platform/closing_report.h"
#include "platform/message_boxes.h"
#include "platform/win32/window_text.h"
#include "platform/windows_api.h"

namespace {

std::atomic<platform::MessageBoxPresenter> presenter{nullptr};
thread_local HHOOK boxHook = nullptr;
// Activation can come more than once for one box; it is answered once.
thread_local HWND lastAnswered = nullptr;

// The button set of the box, as the type word of MessageBoxA has it.
UINT buttonsOf(HWND box) {
    if (GetDlgItem(box, IDYES) != nullptr) {
        return GetDlgItem(box, IDCANCEL) != nullptr ? MB_YESNOCANCEL : MB_YESNO;
    }
    if (GetDlgItem(box, IDRETRY) != nullptr) return MB_RETRYCANCEL;
    return GetDlgItem(box, IDCANCEL) != nullptr ? MB_OKCANCEL : MB_OK;
}

void answer(HWND box, platform::MessageBoxPresenter present) {
    lastAnswered = box;
    std::string caption = platform::windowText(box);
    std::string text = platform::windowText(GetDlgItem(box, platform::kMessageTextId));
    int pressed = present(text.c_str(), caption.c_str(), buttonsOf(box));
    HWND button = GetDlgItem(box, pressed);
    if (button == nullptr) {
        // An answer the box has no button for: the box's own default.
        pressed = GetDlgItem(box, IDCANCEL) != nullptr ? IDCANCEL : IDOK;
        button = GetDlgItem(box, pressed);
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(pressed, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

LRESULT CALLBACK watchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        platform::MessageBoxPresenter present = presenter.load();
        if (present != nullptr && window != lastAnswered &&
            platform::isMessageBox(window)) {
            answer(window, present);
            // Answered: hooks further down the chain need not see it.
            return 0;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void watchThisThread() {
    if (boxHook == nullptr) {
        boxHook = SetWindowsHookExA(WH_CBT, watchBoxes, nullptr, GetCurrentThreadId());
    }
}

// Threads started while a presenter is installed are watched from their
// start (the loader calls this for each new thread).
void NTAPI onThreadEvent(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH && presenter.load() != nullptr) watchThisThread();
}

}  // namespace

extern "C" __attribute__((used, section(".CRT$XLP")))
const PIMAGE_TLS_CALLBACK kazWatchNewThreads = onThreadEvent;

namespace platform {

// The hooks stay; without a presenter they let every box through.
void setMessageBoxPresenter(MessageBoxPresenter p) {
    presenter.store(p);
    if (p != nullptr) watchThisThread();
}

// The dialog is its own window; there is no terminal to hand back.
void setReportHook(ReportHook) {}

int plainMessageBox(const char* text, const char* caption, UINT type) {
    return MessageBoxA(nullptr, text, caption, type);
}

void showReport(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace platform
