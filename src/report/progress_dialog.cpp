#include "report/progress_dialog.h"

#include "platform/windows_api.h"

HWND dialogWindow(ProgressDialog* dialog) {
    DialogHost* host = dialog != nullptr ? dialog->host.load() : nullptr;
    return host != nullptr ? host->window() : nullptr;
}

void setDialogTitle(ProgressDialog* dialog, const char* title) {
    if (dialog == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(dialog->mutex);
        dialog->title = title;
    }
    if (DialogHost* host = dialog->host.load()) host->retitled(*dialog);
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
    if (DialogHost* host = dialog->host.load()) host->repaint(*dialog);
}

void endDialog(ProgressDialog* dialog, int result) {
    if (dialog == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(dialog->mutex);
        dialog->ended = true;
        dialog->result = result;
    }
    if (DialogHost* host = dialog->host.load()) host->ended(*dialog);
}
