#include "support/wait.h"

#include "platform/windows_api.h"

void waitFor(int32_t delayMilliseconds) {
    if (delayMilliseconds >= 0) Sleep(static_cast<DWORD>(delayMilliseconds));
}
