#pragma once

#include <cstdint>

// Makes the target tree equal to the source tree, folder by folder.
int synchronizeFolder(const char* sourcePattern, const char* targetPattern, int32_t baseIndex);
