// Turns the argument vector into the run's settings and run mode, opens what
// the mode needs (script file, reference listing) and creates the log.
// Every error ends the run with the usage message.
#pragma once

#include <cstdint>

class TextBuffer;

int parseCommandLine(int argc, char** argv, const char* commandText);

int matchFlag(const char* name, const char* argument, int32_t& field);
int matchNumber(const char* name, const char* argument, int32_t& field);
int matchText(const char* name, const char* argument, TextBuffer& value);

// The usage lines, with the platform's switch prefix.
const char* usageText();
[[noreturn]] void showUsage(const char* message, const char* argument);
