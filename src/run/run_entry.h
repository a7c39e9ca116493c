// The worker thread that runs the whole job, and the run entry it executes.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"

struct ProgressDialog;

struct WorkerParam {
    ProgressDialog* dialog;
    HANDLE uiThread;
    const char* commandLine;
};

// Most arguments a command line may have, the program name included.
inline constexpr int kMaxArguments = 100;

// Creates the worker suspended; the dialog resumes it once it is shown.
// Returns false when the thread could not be created.
bool startWorker(ProgressDialog* dialog);
DWORD WINAPI workerMain(LPVOID param);
int runEntry(const char* commandLine);
// The run's stop (installed by runEntry): shows the message, if any, and
// closes the log under its final name; then ends the dialog and the worker.
[[noreturn]] void endRun(int exitCode, const char* message);
