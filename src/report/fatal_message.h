// A failure that makes going on pointless. The run's stop shows it once,
// closes the log under its final name and ends the run. None of these return.
#pragma once

#include <cstdint>

[[noreturn]] void fatalMessage(int exitCode, const char* text);
[[noreturn]] void fatalMessage2(int exitCode, const char* first, const char* second);
[[noreturn]] void fatalMessage3(int exitCode, const char* first, const char* second,
                                const char* third);

// The text + path + ").\nCode=<code> - <name>\n" message of failures that
// name a path and the Windows error that stopped it.
[[noreturn]] void fatalWithCode(const char* text, const char* path, uint32_t code);
