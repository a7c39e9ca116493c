#include <gtest/gtest.h>

#include <atomic>

#include "platform/windows_api.h"

namespace {

std::atomic<int> ran{0};

DWORD returnsSeven(LPVOID) {
    ran = 1;
    return 7;
}

[[noreturn]] void endFromDeepInside(int depth) {
    if (depth == 0) ExitThread(3);
    endFromDeepInside(depth - 1);
}

DWORD endsItself(LPVOID) { endFromDeepInside(50); }

}  // namespace

TEST(Threads, SuspendedThreadRunsOnlyWhenResumed) {
    ran = 0;
    HANDLE t = CreateThread(nullptr, 0, returnsSeven, nullptr, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
    EXPECT_EQ(ran.load(), 0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(t), 1u);
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(ran.load(), 1);
    CloseHandle(t);
}

TEST(Threads, ExitThreadEndsOnlyTheCallingThreadWithItsCode) {
    HANDLE t = CreateThread(nullptr, 0, endsItself, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 3u);
    CloseHandle(t);
}

TEST(Threads, DuplicatedCurrentThreadIsARealHandle) {
    HANDLE self = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                &self, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_NE(self, GetCurrentThread());
    EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(self));
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));  // a pseudo handle stays usable
}

TEST(ThreadsDeathTest, ExitThreadOnTheMainThreadEndsTheProcess) {
    EXPECT_EXIT(ExitThread(4), testing::ExitedWithCode(4), "");
}
