#pragma once

#include "platform/windows_api.h"

// Removes one target file, or a target folder with everything in it.
void removeTargetEntry(const char* path, const WIN32_FIND_DATAA& entry);
// 1 when the folder is gone (or would be, in a trial run), 0 on a failure.
int deleteTree(const char* folder);
