#include "support/wait.h"

#include <atomic>

#include "platform/windows_api.h"

namespace {

std::atomic<WaitClock*> testClock{nullptr};

}  // namespace

void waitFor(int32_t delayMilliseconds) {
    // A zero delay is no delay: not even a yield of the thread.
    if (delayMilliseconds <= 0) return;
    if (WaitClock* clock = testClock.load()) {
        clock->wait(delayMilliseconds);
        return;
    }
    Sleep(static_cast<DWORD>(delayMilliseconds));
}

uint32_t waitTicks() {
    if (WaitClock* clock = testClock.load()) return clock->now();
    return timeGetTime();
}

void setWaitClock(WaitClock* clock) { testClock.store(clock); }
