#include <gtest/gtest.h>

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

TEST(Clock, TicksAdvanceAcrossASleep) {
    DWORD before = timeGetTime();
    Sleep(20);
    Sleep(0);
    EXPECT_GE(timeGetTime() - before, 20u);
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
