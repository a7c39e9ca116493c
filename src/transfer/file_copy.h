// Copying one file with its times and attributes; the error report through
// which file-level failures reach the log and the exception list.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/windows_api.h"

void copyFile(const char* source, const char* target);

// What a copy made beside the walk leaves for the walk to count.
struct CopiedBeside {
    uint64_t bytes = 0;
    DWORD sizeHigh = 0, sizeLow = 0;  // as the source's status gave them
};
// A copy made on a second thread beside the walk, into a target name that is
// free. It touches nothing of the run's state (no log, list, counter or
// progress) and stops when `stop` is set. True when the copy is complete and
// in place with everything copyFile gives it; false leaves nothing behind,
// and copyFile then copies the pair and says what it finds: a busy or
// changing source, a taken name, a refused attribute, any failure.
bool copyNewFileBeside(const char* source, const char* target, char* buffer,
                       const std::atomic<bool>& stop, CopiedBeside& copied);
// Counts and logs, on the walk's thread, a copy made beside it, as copyFile
// counts and logs its own.
void reportCopiedBeside(const char* source, const char* target, const CopiedBeside& copied);
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
