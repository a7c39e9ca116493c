#include "shell/progress_dialog.h"

#include "shell/progress_panel.h"

HWND dialogWindow(ProgressDialog*) { return nullptr; }

void setDialogTitle(ProgressDialog* dialog, const char* title) {
    if (dialog == nullptr) return;
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->title = title;
}

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

void repaintDialog(ProgressDialog* dialog) {
    if (dialog == nullptr) return;
    PanelFigures figures;
    {
        std::lock_guard<std::mutex> lock(dialog->mutex);
        for (int i = 0; i < kProgressFieldCount; ++i) figures.fields[i] = dialog->fields[i];
    }
    figures.delayOpen = dialog->delayOpenValue.load();
    figures.delaySource = dialog->delaySourceValue.load();
    figures.delayTarget = dialog->delayTargetValue.load();
    drawProgressPanel(figures);
}

void endDialog(ProgressDialog* dialog, int result) {
    if (dialog == nullptr) return;
    closeProgressPanel();
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->ended = true;
    dialog->result = result;
}

int showDialogModal(ProgressDialog&, HANDLE worker) {
    ResumeThread(worker);
    // The worker ends the dialog and then itself; an assertion stop ends only
    // the worker. Either way the run is over when the worker is.
    WaitForSingleObject(worker, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeThread(worker, &exitCode);
    return static_cast<int>(exitCode);
}
