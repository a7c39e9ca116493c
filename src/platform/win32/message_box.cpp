// Message boxes and the closing report are real Windows message boxes.
#include "platform/platform.h"

namespace platform {

// A terminal display may take boxes over on POSIX; the dialog needs no such
// hand-over, so these only keep their value.
void setMessageBoxPresenter(MessageBoxPresenter) {}
void setReportHook(ReportHook) {}

int plainMessageBox(const char* text, const char* caption, UINT type) {
    return MessageBoxA(nullptr, text, caption, type);
}

void showReport(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace platform
