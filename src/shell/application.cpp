#include "shell/application.h"

#include "platform/platform.h"
#include "report/run_state.h"
#include "run/run_entry.h"
#include "shell/progress_dialog.h"

int runApplication(int argc, char** argv) {
    platform::setProcessArguments(argc, argv);
    static ProgressDialog dialog;
    platform::installCancelSignals(&runState.cancelRequested);
    if (!startWorker(&dialog)) return 1;
    return showDialogModal(dialog, runState.workerThread);
}
