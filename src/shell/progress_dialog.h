// The window that hosts the run. The worker writes its title and ends it;
// the UI thread shows it until then. The three delay values are the ones the
// user may change while the run goes on.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/windows_api.h"

// The dialog's figures, in the order the progress display updates them.
enum ProgressField {
    kRunTimeField,
    kTopLineField,
    kFilesProcessedField,
    kVirtualFilesProcessedField,
    kMegabytesField,
    kVirtualMegabytesField,
    kMegabytesPerMinuteField,
    kCompressionRatioField,
    kBusyFilesField,
    kFilesCreatedField,
    kFoldersCreatedField,
    kFilesDeletedField,
    kFoldersDeletedField,
    kExceptionFilesField,
    kProgressFieldCount
};

struct ProgressDialog {
    std::atomic<int32_t> delayOpenValue{-1};
    std::atomic<int32_t> delaySourceValue{-1};
    std::atomic<int32_t> delayTargetValue{-1};

    std::mutex mutex;
    std::string title = "KAZ";
    std::string fields[kProgressFieldCount];
    bool ended = false;
    int result = 0;
};

// The owner window for message boxes; none while nothing is shown.
HWND dialogWindow(ProgressDialog* dialog);
void setDialogTitle(ProgressDialog* dialog, const char* title);
void setDialogField(ProgressDialog* dialog, ProgressField field, const char* text);
// The text a field shows now (empty without a dialog).
std::string dialogField(ProgressDialog* dialog, ProgressField field);
// Asks for the figures to be drawn now (at most once a second, or forced);
// the worker calls it after each refresh that updated them and before ending.
void repaintDialog(ProgressDialog* dialog);
void endDialog(ProgressDialog* dialog, int result);

// Shows the dialog until the worker thread ends: resumes the worker once the
// dialog is ready, and returns the worker's exit code.
int showDialogModal(ProgressDialog& dialog, HANDLE worker);
