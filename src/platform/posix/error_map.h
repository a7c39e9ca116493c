// Turning errno values into the Windows error codes the engine reads.
#pragma once

#include "platform/windows_api.h"

namespace posix {

// The Windows code for `err`. `path`, when given, is the name the failed call
// was about: a missing name whose folder is missing as well reads as
// ERROR_PATH_NOT_FOUND, as Windows reports it.
DWORD windowsError(int err, const char* path = nullptr);

// Whether the folder that would hold `path` does not exist.
bool folderOfPathMissing(const char* path);

// Sets the thread's last error from `err` (see windowsError) and returns FALSE.
BOOL failWithErrno(int err, const char* path = nullptr);
// Sets the thread's last error to `code` and returns FALSE.
BOOL failWithCode(DWORD code);

}  // namespace posix
