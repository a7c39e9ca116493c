#pragma once

#include <cstdint>

// Waits one of the run's delays; zero or a negative delay means no wait.
// Callers pass the current value, since the user may change the delays while
// the run goes on.
void waitFor(int32_t delayMilliseconds);
