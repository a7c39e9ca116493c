#pragma once

#include "platform/windows_api.h"

// Builds the progress dialog, starts the worker and shows the dialog until
// the run is over. Returns the process's exit code.
int runApplication(int argc, char** argv);

// The run cannot begin without its worker thread: says so and why, and gives
// the exit code of a stopped run.
int workerNotStarted(DWORD code);
