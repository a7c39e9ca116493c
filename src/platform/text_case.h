// Comparing texts with the letter case ignored, the same on every platform.
#pragma once

#include <cstddef>

namespace platform {

// Whether the first n bytes of two texts are the same with the letter case of
// ASCII letters ignored, on every platform (switch names, unlike file names).
bool sameTextIgnoringCase(const char* a, const char* b, size_t n);

}  // namespace platform
