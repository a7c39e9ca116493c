// Copying one file with its times and attributes; the error report through
// which file-level failures reach the log and the exception list.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_api.h"

void copyFile(const char* source, const char* target);
void reportError(const char* message, DWORD code, int32_t messageIndex, const char* source,
                 const char* target);
// The copy-list line of a file copied or verified.
void writeCopyListLine(const char* source, const char* target);
// Whether another program holds the target file open without sharing it,
// which keeps it from being replaced.
bool targetInUse(const char* target);
// The open errors that mean "in use elsewhere, try again later".
bool isBusyError(DWORD code);
// Puts back the last-access time a file had when it was opened, where
// reading it may have moved it.
void restoreAccessTime(HANDLE file, const BY_HANDLE_FILE_INFORMATION& seenAtOpen);

// The name a copy that replaces an old one is written under until it is
// complete: beside the target, so that the final rename stays within one file
// system, short, so that it fits whatever the target's own name, and with a
// beginning that no user's file is likely to have. `attempt` varies it.
std::string replacementNameFor(const char* target, unsigned attempt);
// Whether a name is one of those: a run that was killed may have left it,
// and the next run removes it without counting it as a user's file.
bool isReplacementName(const char* name);
