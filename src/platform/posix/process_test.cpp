#include <gtest/gtest.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/arguments.h"
#include "platform/windows_api.h"

TEST(ProcessArguments, CommandTextQuotesWhatWouldNotReadBackAsOneWord) {
    char program[] = "kaz", plain[] = "src", blank[] = "my files", empty[] = "",
         comma[] = "a,b", quote[] = "say\"x";
    char* argv[] = {program, plain, blank, empty, comma, quote, nullptr};
    platform::setProcessArguments(6, argv);
    int argc = 0;
    const char* text = nullptr;
    EXPECT_EQ(platform::processArgumentVector(&argc, &text), argv);
    EXPECT_EQ(argc, 6);
    EXPECT_STREQ(text, "src \"my files\" \"\" \"a,b\" \"say\"x\"");
    EXPECT_STREQ(GetCommandLineA(), "kaz src \"my files\" \"\" \"a,b\" \"say\"x\"");

    char* alone[] = {program, nullptr};
    platform::setProcessArguments(1, alone);
    platform::processArgumentVector(&argc, &text);
    EXPECT_STREQ(text, "");
}

DWORD monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
                              static_cast<unsigned long long>(now.tv_nsec) / 1000000ULL);
}

TEST(Clock, TicksAreTheMonotonicClockInMilliseconds) {
    DWORD before = monotonicMilliseconds();
    DWORD tick = timeGetTime();
    DWORD after = monotonicMilliseconds();
    // Read between the two, in 32-bit arithmetic as the tick wraps.
    EXPECT_LE(tick - before, after - before) << before << " " << tick << " " << after;
}

// Sleep ends no sooner than a kernel timer of the same length set just
// before it: the timer has no time left when Sleep returns.
TEST(Clock, SleepOutlastsATimerOfTheSameLength) {
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    ASSERT_GE(timer, 0);
    itimerspec in20ms{};
    in20ms.it_value.tv_nsec = 20 * 1000000L;
    ASSERT_EQ(timerfd_settime(timer, 0, &in20ms, nullptr), 0);
    Sleep(20);
    itimerspec left{};
    ASSERT_EQ(timerfd_gettime(timer, &left), 0);
    close(timer);
    EXPECT_EQ(left.it_value.tv_sec, 0);
    EXPECT_EQ(left.it_value.tv_nsec, 0) << "Sleep(20) ended before a 20 ms timer";
    Sleep(0);  // only yields
}

TEST(Clock, LogHeaderDateAndTime) {
    SYSTEMTIME t{2026, 12, 1, 7, 4, 5, 9, 0};
    char date[100], time[100];
    EXPECT_GT(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &t, nullptr, date, 99), 0);
    EXPECT_NE(std::string(date).find("2026"), std::string::npos);
    EXPECT_EQ(GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &t, nullptr, time, 99), 9);
    EXPECT_STREQ(time, "04:05:09");
    EXPECT_EQ(GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, 4), 0);
}

TEST(Machine, ComputerNameIsTheHostNameUpToItsFirstDot) {
    char name[64];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_EQ(size, std::string(name).size());
    EXPECT_EQ(std::string(name).find('.'), std::string::npos);
    DWORD tooSmall = 1;
    EXPECT_FALSE(GetComputerNameA(name, &tooSmall));
    EXPECT_EQ(tooSmall, size + 1);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
}
