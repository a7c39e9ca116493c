// The test program never waits for a person: a message box that no test
// presenter answers is written to standard error as the terminal build
// writes it (caption, then text) and answered OK, or No to a question, as
// the terminal build does without a terminal. Death tests look for the box
// on standard error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/window_text.h"

namespace {

std::string lineText(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '\r' && p[1] == '\n') continue;
        out += *p;
    }
    if (out.empty() || out.back() != '\n') out += '\n';
    return out;
}

thread_local HWND lastAnswered = nullptr;

LRESULT CALLBACK answerUnattended(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && box != lastAnswered && platform::isMessageBox(box)) {
        lastAnswered = box;
        HWND message = GetDlgItem(box, platform::kMessageTextId);
        std::string shown = lineText(platform::windowText(box).c_str()) +
                            lineText(platform::windowText(message).c_str());
        int answer = IDOK;
        if (GetDlgItem(box, IDNO) != nullptr) {
            shown += "(no terminal to answer on: taking No)\n";
            answer = IDNO;
        }
        std::fputs(shown.c_str(), stderr);
        std::fflush(stderr);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void watchThisThread() { SetWindowsHookExA(WH_CBT, answerUnattended, nullptr, GetCurrentThreadId()); }

// Every thread of the test program is watched: the one that runs the tests
// from before main, the others from their start.
void NTAPI onThreadEvent(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH) watchThisThread();
}

const bool mainThreadWatched = (watchThisThread(), true);

}  // namespace

// Runs before the program's own thread callback (".CRT$XLP"): hooks made
// later are asked first, so a test's presenter sees a box before this does.
extern "C" __attribute__((used, section(".CRT$XLN")))
const PIMAGE_TLS_CALLBACK kazTestWatchNewThreads = onThreadEvent;
