#include "report/fatal_message.h"

#include <cstdio>

#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/log_file.h"
#include "report/progress_dialog.h"
#include "report/run_state.h"
#include "support/run_stop.h"
#include "support/text_buffer.h"

void fatalMessage(int exitCode, const char* text) { stopRun(exitCode, text); }

void showAndCloseLog(int, const char* message) {
    if (message == nullptr) return;
    MessageBoxA(dialogWindow(runState.progressDialog), message, "KAZ - message", MB_OK);
    closeLog();
}

void fatalMessage2(int exitCode, const char* first, const char* second) {
    TextBuffer text(first);
    text.append(second);
    fatalMessage(exitCode, text.text());
}

void fatalMessage3(int exitCode, const char* first, const char* second, const char* third) {
    TextBuffer text(first);
    text.append(second);
    text.append(third);
    fatalMessage(exitCode, text.text());
}

void fatalWithCode(const char* text, const char* path, uint32_t code) {
    char codeText[160];
    std::snprintf(codeText, sizeof codeText, ").\nCode=%lu - %s\n",
                  static_cast<unsigned long>(code), errorName(code));
    fatalMessage3(1, text, path, codeText);
}
