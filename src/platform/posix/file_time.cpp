#include "platform/posix/file_time.h"

#include "platform/windows_api.h"

namespace posix {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kNanosecondsPerTick = 100;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

FILETIME fromTicks(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

uint64_t fileTimeTicks(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME toFileTime(const timespec& time) {
    int64_t seconds = static_cast<int64_t>(time.tv_sec) + kEpochDifference;
    if (seconds < 0) return fromTicks(0);
    uint64_t ticks = static_cast<uint64_t>(seconds) * kTicksPerSecond +
                     static_cast<uint64_t>(time.tv_nsec / kNanosecondsPerTick);
    return fromTicks(ticks);
}

timespec toTimespec(const FILETIME& time) {
    uint64_t ticks = fileTimeTicks(time);
    timespec result{};
    result.tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) -
                                        kEpochDifference);
    result.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * kNanosecondsPerTick;
    return result;
}

}  // namespace posix
