// Copying one file with its times and attributes; the error report through
// which file-level failures reach the log and the exception list.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"

void copyFile(const char* source, const char* target);
void reportError(const char* message, DWORD code, int32_t messageIndex, const char* source,
                 const char* target);
// The copy-list line of a file copied or verified.
void writeCopyListLine(const char* source, const char* target);
// The open errors that mean "in use elsewhere, try again later".
bool isBusyError(DWORD code);
