#include "support/failure_stops.h"

#include <cstdio>

#include "platform/windows_api.h"
#include "support/run_stop.h"

void outOfMemory(int32_t byteCount) {
    char text[64];
    std::snprintf(text, sizeof text, "Memory allocation for %d bytes failed.", byteCount);
    stopRun(1, text);
}

// Leaves the log in its temporary file: nothing is flushed, since the state
// that broke the invariant may be what would be written.
void assertionFailed(const char* sourceFile, int line) {
    char text[300];
    std::snprintf(text, sizeof text, "Failure at line %d in %s\n", line, sourceFile);
    // Kept as written, misspelling included: logs and messages are read by
    // people's scripts.
    MessageBoxA(nullptr, text, "MOXEL", MB_OK);
    ExitThread(1);
}
