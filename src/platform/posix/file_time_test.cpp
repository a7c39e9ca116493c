#include "platform/posix/file_time.h"
#include "platform/windows_api.h"

#include <gtest/gtest.h>

namespace posix {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

timespec at(time_t seconds, long nanoseconds) {
    timespec time{};
    time.tv_sec = seconds;
    time.tv_nsec = nanoseconds;
    return time;
}

TEST(FileTime, UnixEpochAndFirstTicks) {
    EXPECT_EQ(fileTimeTicks(toFileTime(at(0, 0))), kUnixEpochTicks);
    EXPECT_EQ(fileTimeTicks(toFileTime(at(1, 100))), kUnixEpochTicks + 10000001);
    FILETIME split = toFileTime(at(0, 0));
    EXPECT_EQ(split.dwHighDateTime, 0x019DB1DEu);
    EXPECT_EQ(split.dwLowDateTime, 0xD53E8000u);
}

TEST(FileTime, NanosecondsBelowOneTickAreTruncated) {
    EXPECT_EQ(fileTimeTicks(toFileTime(at(0, 99))), kUnixEpochTicks);
    EXPECT_EQ(fileTimeTicks(toFileTime(at(0, 999999999))), kUnixEpochTicks + 9999999);
    timespec back = toTimespec(toFileTime(at(1700000000, 123456789)));
    EXPECT_EQ(back.tv_sec, 1700000000);
    EXPECT_EQ(back.tv_nsec, 123456700);
}

TEST(FileTime, TimesBefore1970AndBefore1601) {
    // 1969-12-31 23:59:59.5
    EXPECT_EQ(fileTimeTicks(toFileTime(at(-1, 500000000))), kUnixEpochTicks - 5000000);
    timespec back = toTimespec(toFileTime(at(-1, 500000000)));
    EXPECT_EQ(back.tv_sec, -1);
    EXPECT_EQ(back.tv_nsec, 500000000);
    // 1601-01-01 itself is tick 0, and nothing earlier can be told.
    EXPECT_EQ(fileTimeTicks(toFileTime(at(-11644473600, 0))), 0u);
    EXPECT_EQ(fileTimeTicks(toFileTime(at(-11644473601, 0))), 0u);
    EXPECT_EQ(toTimespec(FILETIME{0, 0}).tv_sec, -11644473600);
}

TEST(FileTime, TimesBeyond2038RoundTrip) {
    EXPECT_EQ(toTimespec(toFileTime(at(16725225600, 0))).tv_sec, 16725225600);
}

}  // namespace
}  // namespace posix
