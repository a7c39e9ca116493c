#pragma once

// Builds the progress dialog, starts the worker and shows the dialog until
// the run is over. Returns the process's exit code.
int runApplication(int argc, char** argv);
