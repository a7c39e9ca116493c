// Opening for reading a file that the run's own listing has just shown.
#pragma once

#include <string>
#include <vector>

#include "platform/windows_api.h"

namespace platform {

// CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, flags,
// nullptr) for a file whose listing, moments ago, gave `listedAttributes`.
// Where those show a plain file, the open trusts that look instead of
// looking at the name again first; what it opens is still checked, so a
// name that became a folder, a link or a special file since then is met as
// any open meets it.
HANDLE openListedFile(LPCSTR path, DWORD listedAttributes, DWORD share, DWORD flags);

// The names that the entries of `folder` (a path ending in a separator)
// give as plain files, sorted: the type each entry holds, not a look at the
// file. Empty where the file system's entries hold no types, and on Windows,
// whose opens make no look of their own to spare.
std::vector<std::string> plainFilesIn(const char* folder);

// The attributes that stand, for openListedFile, for a name plainFilesIn
// gave: those of a plain file.
DWORD listedPlainFile();

}  // namespace platform
