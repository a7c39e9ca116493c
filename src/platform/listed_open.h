// Opening for reading a file that the run's own listing has just shown.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, flags,
// nullptr) for a file whose listing, moments ago, gave `listedAttributes`.
// Where those show a plain file, the open trusts that look instead of
// looking at the name again first; what it opens is still checked, so a
// name that became a folder, a link or a special file since then is met as
// any open meets it.
HANDLE openListedFile(LPCSTR path, DWORD listedAttributes, DWORD share, DWORD flags);

}  // namespace platform
