#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/cancel_signals.h"
#include "platform/windows_api.h"

namespace {

// Makes a new pseudo-terminal the controlling terminal of a new session.
bool takeNewTerminal() {
    if (setsid() < 0) return false;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const char* name = ptsname(master);
    return name != nullptr && open(name, O_RDWR) >= 0;
}

}  // namespace

TEST(CancelSignals, TerminateAndHangUpAreConfirmedAndRestartCalls) {
    struct sigaction saved[3];
    const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i) sigaction(signals[i], nullptr, &saved[i]);
    std::atomic<int32_t> flag{0};
    platform::installCancelSignals(&flag);
    raise(SIGHUP);
    EXPECT_EQ(flag.load(), platform::kCancelConfirmed);
    flag = 0;
    raise(SIGTERM);
    raise(SIGINT);  // never weakens a confirmed Cancel
    EXPECT_EQ(flag.load(), platform::kCancelConfirmed);
    for (int i = 0; i < 3; ++i) {
        struct sigaction action {};
        sigaction(signals[i], nullptr, &action);
        EXPECT_NE(action.sa_flags & SA_RESTART, 0) << signals[i];
        sigaction(signals[i], &saved[i], nullptr);
    }
}

TEST(CancelSignalsDeathTest, InterruptWithoutATerminalStopsWithoutAsking) {
    EXPECT_EXIT(
        {
            setsid();
            static std::atomic<int32_t> flag{0};
            platform::installCancelSignals(&flag);
            raise(SIGINT);
            _exit(flag.load());
        },
        testing::ExitedWithCode(platform::kCancelConfirmed), "");
}

TEST(CancelSignalsDeathTest, InterruptWithATerminalAsks) {
    EXPECT_EXIT(
        {
            if (!takeNewTerminal()) _exit(99);
            static std::atomic<int32_t> flag{0};
            platform::installCancelSignals(&flag);
            raise(SIGINT);
            raise(SIGINT);
            _exit(flag.load());
        },
        testing::ExitedWithCode(platform::kCancelAsk), "");
}

namespace {
DWORD WINAPI neverRuns(LPVOID) { return 0; }
}  // namespace

TEST(CancelSignalsDeathTest, ASignalEndsTheProcessWhenTheWorkerCouldNotStart) {
    for (int number : {SIGTERM, SIGHUP, SIGINT}) {
        EXPECT_EXIT(
            {
                setsid();
                static std::atomic<int32_t> flag{0};
                platform::installCancelSignals(&flag);
                // No room for a stack of this size: the start fails.
                HANDLE worker = CreateThread(nullptr, SIZE_MAX / 2, neverRuns, nullptr,
                                             CREATE_SUSPENDED, nullptr);
                if (worker == nullptr || ResumeThread(worker) != static_cast<DWORD>(-1)) _exit(98);
                if (GetLastError() != ERROR_NOT_ENOUGH_MEMORY) _exit(97);
                raise(number);
                _exit(99);
            },
            testing::ExitedWithCode(1), "")
            << number;
    }
}

TEST(CancelSignalsDeathTest, ASignalOnlyStoresWhileAStartedThreadRuns) {
    EXPECT_EXIT(
        {
            static std::atomic<int32_t> flag{0};
            platform::installCancelSignals(&flag);
            HANDLE failed = CreateThread(nullptr, SIZE_MAX / 2, neverRuns, nullptr,
                                         CREATE_SUSPENDED, nullptr);
            if (ResumeThread(failed) != static_cast<DWORD>(-1)) _exit(98);
            static std::atomic<bool> release{false};
            HANDLE worker = CreateThread(
                nullptr, 0,
                [](LPVOID) -> DWORD {
                    while (!release.load()) usleep(1000);
                    return 0;
                },
                nullptr, 0, nullptr);
            raise(SIGTERM);
            release = true;
            WaitForSingleObject(worker, INFINITE);
            _exit(flag.load() == platform::kCancelConfirmed ? 5 : 96);
        },
        testing::ExitedWithCode(5), "");
}
