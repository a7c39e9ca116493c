#pragma once

#include <cstdint>

// Waits one of the run's delays; zero or a negative delay means no wait.
// Callers pass the current value, since the user may change the delays while
// the run goes on.
void waitFor(int32_t delayMilliseconds);

// The millisecond tick that waits are measured against (timeGetTime).
uint32_t waitTicks();

// Test seam: while one is set, waitFor and waitTicks ask it instead of
// waiting and reading the system's tick, so that a test decides when time
// passes and what happens meanwhile.
struct WaitClock {
    virtual ~WaitClock() = default;
    virtual void wait(int32_t milliseconds) = 0;
    virtual uint32_t now() = 0;
};
// Null puts the system's clock back.
void setWaitClock(WaitClock* clock);
