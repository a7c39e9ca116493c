// The platform's path and switch conventions: the separator, the switch
// prefix, the longest path, drive letters, and when two names are the same.
#pragma once

#include <cstddef>

namespace platform {

// The character that separates folder names in a path.
extern const char kPathSeparator;
// The character that introduces a switch on the command line.
extern const char kSwitchPrefix;
// The longest path the platform accepts, in bytes, terminator excluded.
extern const int kMaxPath;
// Whether drive-letter rules ("C:") apply to paths.
extern const bool kDriveLetters;

// Whether two file names or paths name the same thing on this platform
// (exact on POSIX, letter case ignored on Windows).
bool sameName(const char* a, const char* b);
// Whether the first n bytes of two paths are the same on this platform.
bool sameNamePrefix(const char* a, const char* b, size_t n);
// A hash that agrees with sameName: names that are the same hash alike.
size_t nameHash(const char* name);

}  // namespace platform
