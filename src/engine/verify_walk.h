#pragma once

#include <cstdint>

// Compares every source file that the filters let through with the file of
// the same relative path under the target. Reads the target only.
int verifyFolder(const char* sourcePattern, const char* targetPattern, int32_t baseIndex);
