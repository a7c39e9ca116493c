// The two stops for what no caller can handle: a refused heap block and a
// broken internal invariant. Neither returns.
#pragma once

#include <cstdint>

// The name the assertion stop reports for the program's main checks.
inline constexpr const char* kMainSourceFile = "kazmain.cpp";

[[noreturn]] void outOfMemory(int32_t byteCount);
[[noreturn]] void assertionFailed(const char* sourceFile, int line);
