// Telling whether a name is a file the program holds open.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// Whether `path` names (without following a final link) the very file that
// the open handle `file` is on: the same volume and the same file index.
bool isSameFile(HANDLE file, const char* path);

}  // namespace platform
