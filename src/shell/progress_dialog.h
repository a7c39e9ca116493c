// Hosting the run's dialog while the worker thread runs: a window on
// Windows, a panel on a terminal elsewhere.
#pragma once

#include "platform/windows_api.h"
#include "report/progress_dialog.h"

// Shows the dialog until the worker thread ends: resumes the worker once the
// dialog is ready, and returns the worker's exit code.
int showDialogModal(ProgressDialog& dialog, HANDLE worker);
