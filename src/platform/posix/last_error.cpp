#include "platform/windows_api.h"

namespace {
// Each thread keeps its own, as on Windows: the worker's codes must not be
// overwritten by the display thread.
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}
