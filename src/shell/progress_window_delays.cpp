#include "shell/progress_window_delays.h"

#include <commctrl.h>

#include <string>

#include "platform/win32/window_text.h"
#include "platform/windows_api.h"
#include "shell/delay_entry.h"
#include "shell/progress_window_ids.h"

namespace {

constexpr int kBoxIds[3] = {IDC_DELAY_OPEN, IDC_DELAY_SOURCE, IDC_DELAY_TARGET};
constexpr int kSpinIds[3] = {IDC_SPIN_OPEN, IDC_SPIN_SOURCE, IDC_SPIN_TARGET};
constexpr UINT_PTR kFilterId = 1;
constexpr UINT kSimpleBeep = 0xFFFFFFFF;

// The value each box was last given by the dialog.
int32_t shownValues[3] = {kDelayMinimum, kDelayMinimum, kDelayMinimum};

std::atomic<int32_t>& member(ProgressDialog& dialog, int box) {
    if (box == 0) return dialog.delayOpenValue;
    return box == 1 ? dialog.delaySourceValue : dialog.delayTargetValue;
}

void showValue(HWND window, int box, int32_t value) {
    shownValues[box] = value;
    SetDlgItemTextA(window, kBoxIds[box], std::to_string(value).c_str());
}

// Characters typed into a box; pasted text and the spin arrows pass by.
LRESULT CALLBACK filterCharacters(HWND box, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR, DWORD_PTR) {
    if (message == WM_CHAR) {
        bool taken = wParam < 0x80 &&
                     delayCharacterTaken(platform::windowText(box), static_cast<char>(wParam));
        if (!taken) {
            MessageBeep(kSimpleBeep);
            return 0;
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(box, filterCharacters, kFilterId);
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

void focusControl(HWND window, HWND control) {
    SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

bool focusInABox(HWND window) {
    HWND focus = GetFocus();
    for (int id : kBoxIds) {
        if (focus != nullptr && focus == GetDlgItem(window, id)) return true;
    }
    return false;
}

}  // namespace

void attachDelayBoxes(HWND window, ProgressDialog& dialog) {
    for (int box = 0; box < 3; ++box) {
        SendDlgItemMessageA(window, kSpinIds[box], UDM_SETRANGE, 0,
                            MAKELPARAM(kDelayMaximum, static_cast<WORD>(kDelayMinimum)));
        showValue(window, box, member(dialog, box).load());
        SetWindowSubclass(GetDlgItem(window, kBoxIds[box]), filterCharacters, kFilterId, 0);
    }
}

void takeDelayBoxes(HWND window, ProgressDialog& dialog) {
    if (!focusInABox(window)) return;
    int32_t values[3];
    for (int box = 0; box < 3; ++box) {
        HWND control = GetDlgItem(window, kBoxIds[box]);
        if (const char* complaint = checkDelayText(platform::windowText(control), values[box])) {
            MessageBoxA(window, complaint, "KAZ", MB_OK);
            focusControl(window, control);
            return;
        }
    }
    for (int box = 0; box < 3; ++box) {
        shownValues[box] = values[box];
        member(dialog, box) = values[box];
    }
    focusControl(window, GetDlgItem(window, IDC_CANCEL_RUN));
}

void followDelayValues(HWND window, ProgressDialog& dialog) {
    for (int box = 0; box < 3; ++box) {
        int32_t value = member(dialog, box).load();
        if (value != shownValues[box]) showValue(window, box, value);
    }
}
