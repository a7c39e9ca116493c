// The dialog of a run as the worker sees it: figures and a title to write,
// a repaint to ask for, an end to announce, and the three delays the user
// may change while the run goes on. The shell hosts it (a window on Windows,
// a panel on a terminal); without a host the figures are only kept.
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

struct ProgressDialog;

// What shows a dialog; the calls come from the worker thread.
class DialogHost {
public:
    virtual ~DialogHost() = default;
    // The owner window for message boxes; none while nothing is shown.
    virtual HWND window() = 0;
    // The title or the figures changed and should be drawn soon.
    virtual void retitled(ProgressDialog& dialog) = 0;
    virtual void repaint(ProgressDialog& dialog) = 0;
    virtual void ended(ProgressDialog& dialog) = 0;
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

    // Set by the shell while it shows the dialog.
    std::atomic<DialogHost*> host{nullptr};
};

// Each of these accepts a null dialog and then does nothing.
HWND dialogWindow(ProgressDialog* dialog);
void setDialogTitle(ProgressDialog* dialog, const char* title);
void setDialogField(ProgressDialog* dialog, ProgressField field, const char* text);
// The text a field shows now (empty without a dialog).
std::string dialogField(ProgressDialog* dialog, ProgressField field);
// Asks for the figures to be drawn now (at most once a second, or forced);
// the worker calls it after each refresh that updated them and before ending.
void repaintDialog(ProgressDialog* dialog);
void endDialog(ProgressDialog* dialog, int result);
