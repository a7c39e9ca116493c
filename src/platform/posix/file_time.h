// Windows file times (100 ns ticks since 1601-01-01 UTC) and POSIX
// nanosecond times.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/windows_api.h"

namespace posix {

// A FILETIME as one 64-bit tick count.
uint64_t fileTimeTicks(const FILETIME& time);
// Nanoseconds below 100 are dropped; times before 1601 become 0.
FILETIME toFileTime(const timespec& time);
timespec toTimespec(const FILETIME& time);

}  // namespace posix
