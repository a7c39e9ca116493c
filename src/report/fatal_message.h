// A failure that makes going on pointless. The run's stop shows it once,
// closes the log under its final name and ends the run. None of these return.
#pragma once

#include <cstdint>

[[noreturn]] void fatalMessage(int exitCode, const char* text);
[[noreturn]] void fatalMessage2(int exitCode, const char* first, const char* second);
[[noreturn]] void fatalMessage3(int exitCode, const char* first, const char* second,
                                const char* third);

// What a stop with something to say does first: shows the message (over
// the dialog, when one is shown) and closes the log under its final name.
// The stop of a run without its run layer, which the tests run under; the
// run layer's own stop then ends the dialog and the worker.
void showAndCloseLog(int exitCode, const char* message);

// The text + path + ").\nCode=<code> - <name>\n" message of failures that
// name a path and the Windows error that stopped it.
[[noreturn]] void fatalWithCode(const char* text, const char* path, uint32_t code);
