// The progress dialog as a Windows dialog box (resource 102). The worker
// keeps the figures in the ProgressDialog record and posts to the dialog's
// thread, which puts them into the controls; so the worker never waits on a
// window that may be gone. The dialog ends with 1003 when the worker asks,
// or when it finds the worker gone by any other way.
#include "shell/progress_dialog.h"

#include <commctrl.h>

#include "platform/cancel_signals.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "shell/progress_window_delays.h"
#include "shell/progress_window_ids.h"

namespace {

constexpr UINT kShowFiguresMessage = WM_APP + 1;
constexpr UINT kEndMessage = WM_APP + 2;
constexpr UINT_PTR kWorkerWatch = 1;
constexpr UINT kWorkerWatchMs = 250;
constexpr UINT_PTR kCancelButtonFilter = 1;

// Controls of the fields, in the order of ProgressField.
constexpr int kFieldIds[kProgressFieldCount] = {
    IDC_RUN_TIME,         IDC_TOP_LINE,          IDC_FILES_PROCESSED,
    IDC_VIRTUAL_FILES_PROCESSED, IDC_MEGABYTES, IDC_VIRTUAL_MEGABYTES,
    IDC_MEGABYTES_PER_MINUTE, IDC_COMPRESSION_RATIO, IDC_BUSY_FILES,
    IDC_FILES_CREATED,    IDC_FOLDERS_CREATED,   IDC_FILES_DELETED,
    IDC_FOLDERS_DELETED,  IDC_EXCEPTION_FILES};

// The one dialog on the screen and what its controls show now.
struct ShownDialog {
    std::atomic<ProgressDialog*> dialog{nullptr};
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> showPending{false};
    HANDLE worker = nullptr;
    bool workerResumed = false;
    HICON icon = nullptr;
    std::string title = "KAZ";
    std::string fields[kProgressFieldCount];
};

ShownDialog shown;

void requestShow() {
    HWND window = shown.window.load();
    if (window != nullptr && !shown.showPending.exchange(true)) {
        PostMessageA(window, kShowFiguresMessage, 0, 0);
    }
}

void showFigures(HWND window) {
    shown.showPending = false;
    ProgressDialog& dialog = *shown.dialog.load();
    std::string title, fields[kProgressFieldCount];
    {
        std::lock_guard<std::mutex> lock(dialog.mutex);
        title = dialog.title;
        for (int i = 0; i < kProgressFieldCount; ++i) fields[i] = dialog.fields[i];
    }
    for (int i = 0; i < kProgressFieldCount; ++i) {
        if (fields[i] == shown.fields[i]) continue;
        shown.fields[i] = fields[i];
        SetDlgItemTextA(window, kFieldIds[i], fields[i].c_str());
    }
    if (title != shown.title) {
        shown.title = title;
        SetWindowTextA(window, title.c_str());
    }
    followDelayValues(window, dialog);
    UpdateWindow(window);
}

void requestCancel() {
    // A confirmed Cancel (closing the console) is never turned back into a question.
    int32_t none = 0;
    runState.cancelRequested.compare_exchange_strong(none, platform::kCancelAsk);
}

// Enter on the focused Cancel button leaves the run alone: the button does
// not take the default role, so Enter comes to the dialog as IDOK.
LRESULT CALLBACK keepCancelFromEnter(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR) {
    if (message == WM_GETDLGCODE) {
        LRESULT code = DefSubclassProc(button, message, wParam, lParam);
        return code & ~static_cast<LRESULT>(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(button, keepCancelFromEnter, kCancelButtonFilter);
    return DefSubclassProc(button, message, wParam, lParam);
}

void setIcons(HWND window) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    shown.icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KAZ));
    auto small = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_KAZ), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(shown.icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void startDialog(HWND window) {
    shown.window = window;
    SetForegroundWindow(window);
    setIcons(window);
    attachDelayBoxes(window, *shown.dialog.load());
    SetWindowSubclass(GetDlgItem(window, IDC_CANCEL_RUN), keepCancelFromEnter,
                      kCancelButtonFilter, 0);
    SetTimer(window, kWorkerWatch, kWorkerWatchMs, nullptr);
    shown.workerResumed = true;
    ResumeThread(shown.worker);
}

void finishDialog(HWND window, INT_PTR result) {
    showFigures(window);
    EndDialog(window, result);
}

// Minimised, the dialog is its icon, centred in the client area.
bool paintIcon(HWND window) {
    if (!IsIconic(window)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window, &client);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, shown.icon);
    EndPaint(window, &paint);
    return true;
}

bool onCommand(HWND window, WORD id) {
    switch (id) {
        case IDOK: takeDelayBoxes(window, *shown.dialog.load()); return true;
        case IDCANCEL:
        case IDC_CANCEL_RUN: requestCancel(); return true;
        default: return false;
    }
}

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: startDialog(window); return TRUE;
        case WM_PAINT: return paintIcon(window);
        case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(shown.icon);
        case WM_COMMAND: return onCommand(window, LOWORD(wParam));
        case WM_CLOSE: requestCancel(); return TRUE;
        case kShowFiguresMessage: showFigures(window); return TRUE;
        case kEndMessage: finishDialog(window, static_cast<INT_PTR>(wParam)); return TRUE;
        case WM_TIMER:
            // The worker may end without ending the dialog (an assertion stop).
            if (wParam == kWorkerWatch && WaitForSingleObject(shown.worker, 0) == WAIT_OBJECT_0) {
                finishDialog(window, IDC_CANCEL_RUN);
            }
            return TRUE;
        case WM_DESTROY:
            KillTimer(window, kWorkerWatch);
            shown.window = nullptr;
            return FALSE;
        default: return FALSE;
    }
}

// The window as the worker's dialog calls on it; it forwards to the window's
// thread by posted messages only.
class WindowHost : public DialogHost {
public:
    HWND window() override { return shown.window.load(); }
    void retitled(ProgressDialog&) override { requestShow(); }
    void repaint(ProgressDialog&) override { requestShow(); }
    void ended(ProgressDialog& dialog) override {
        HWND window = shown.window.load();
        if (window != nullptr)
            PostMessageA(window, kEndMessage, static_cast<WPARAM>(dialog.result), 0);
    }
};

}  // namespace

int showDialogModal(ProgressDialog& dialog, HANDLE worker) {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    WindowHost host;
    shown.dialog = &dialog;
    dialog.host = &host;
    shown.worker = worker;
    shown.workerResumed = false;
    shown.title = "KAZ";
    for (std::string& field : shown.fields) field.clear();
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                    dialogProcedure, 0);
    // Without a desktop no dialog can be made: the run goes on without one.
    if (!shown.workerResumed) {
        shown.workerResumed = true;
        ResumeThread(worker);
    }
    WaitForSingleObject(worker, INFINITE);
    dialog.host = nullptr;
    shown.dialog = nullptr;
    DWORD exitCode = 1;
    GetExitCodeThread(worker, &exitCode);
    return static_cast<int>(exitCode);
}
