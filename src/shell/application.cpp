#include "shell/application.h"

#include <cstdio>

#include "platform/arguments.h"
#include "platform/cancel_signals.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/run_state.h"
#include "run/run_entry.h"
#include "shell/progress_dialog.h"

int runApplication(int argc, char** argv) {
    platform::setProcessArguments(argc, argv);
    static ProgressDialog dialog;
    platform::installCancelSignals(&runState.cancelRequested);
    if (!startWorker(&dialog)) return workerNotStarted(GetLastError());
    return showDialogModal(dialog, runState.workerThread);
}

int workerNotStarted(DWORD code) {
    char text[200];
    std::snprintf(text, sizeof text, "KAZ - Unable to start the worker thread\r\nCode=%lu - %s",
                  static_cast<unsigned long>(code), errorName(code));
    MessageBoxA(nullptr, text, "KAZ - message", MB_OK);
    return 1;
}
