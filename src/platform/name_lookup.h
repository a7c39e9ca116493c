// Looking at one entry by its name.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// Fills `data` with the find record of the one entry `path` names, never
// following a final link. Unlike FindFirstFileA it never reads the name as
// a pattern, so a POSIX file or folder called "*.*" is looked at, not its
// folder listed. FALSE with the last error set when there is no such entry.
BOOL lookUpName(const char* path, WIN32_FIND_DATAA* data);

}  // namespace platform
