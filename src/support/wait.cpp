#include "support/wait.h"

#include "platform/windows_api.h"

void waitFor(int32_t delayMilliseconds) {
    // A zero delay is no delay: not even a yield of the thread.
    if (delayMilliseconds > 0) Sleep(static_cast<DWORD>(delayMilliseconds));
}
