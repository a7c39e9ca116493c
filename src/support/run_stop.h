// The one way a run ends before its end: a fatal message, a "No" to a
// question, the help text. Code at any depth calls stopRun; what stopping
// means (showing the message, closing the log, ending the dialog and the
// worker thread) is the business of the run layer, which installs it.
// Tests install their own.
#pragma once

// message is null for a stop that has nothing more to say.
using RunStop = void (*)(int exitCode, const char* message);

// Null puts back the stop of a program with no run layer: the message in a
// box, then the thread ends with the exit code.
void installRunStop(RunStop stop);

// Never returns: when the installed stop returns, the thread still ends.
[[noreturn]] void stopRun(int exitCode, const char* message = nullptr);
