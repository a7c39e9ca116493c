// Stops of the run (fatal messages, failure stops) end the worker thread
// with ExitThread, and the program passes the worker's exit code on. A
// death test therefore runs such a statement on a worker thread too and
// exits with that code; only the main thread's end would lose it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "platform/windows_api.h"

namespace worker_stop {

// The worker's result when the statement came back instead of stopping.
inline constexpr DWORD kReturned = 0xC0FFEEu;
// Long enough for any stop; a hung statement still ends the child.
inline constexpr DWORD kLimitMs = 120000;

inline DWORD WINAPI runStatement(LPVOID statement) {
    (*static_cast<const std::function<void()>*>(statement))();
    return kReturned;
}

inline void runAsWorker(const std::function<void()>& statement) {
    HANDLE worker = CreateThread(nullptr, 0, runStatement,
                                 const_cast<std::function<void()>*>(&statement), 0, nullptr);
    if (worker == nullptr) std::abort();
    DWORD code = kReturned;
    if (WaitForSingleObject(worker, kLimitMs) != WAIT_OBJECT_0) {
        std::fputs("the statement did not end\n", stderr);
        std::abort();
    }
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    if (code == kReturned) return;
    std::fflush(nullptr);
    std::exit(static_cast<int>(code));
}

}  // namespace worker_stop

// EXPECT_EXIT for a statement that stops the run.
#define EXPECT_STOP(statement, predicate, regex) \
    EXPECT_EXIT(worker_stop::runAsWorker([&] { statement; }), predicate, regex)
