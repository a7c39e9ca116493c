// Placeholder until the dialog exists: the run goes on without a window.
#include "shell/progress_dialog.h"

HWND dialogWindow(ProgressDialog*) { return nullptr; }
void setDialogTitle(ProgressDialog*, const char*) {}
void setDialogField(ProgressDialog* dialog, ProgressField field, const char* text) {
    if (dialog == nullptr) return;
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->fields[field] = text;
}
std::string dialogField(ProgressDialog* dialog, ProgressField field) {
    if (dialog == nullptr) return {};
    std::lock_guard<std::mutex> lock(dialog->mutex);
    return dialog->fields[field];
}
void repaintDialog(ProgressDialog*) {}
void endDialog(ProgressDialog*, int) {}
int showDialogModal(ProgressDialog&, HANDLE worker) {
    ResumeThread(worker);
    WaitForSingleObject(worker, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeThread(worker, &exitCode);
    return static_cast<int>(exitCode);
}
