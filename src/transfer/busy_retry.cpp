#include "transfer/busy_retry.h"

#include <cstdint>

#include "platform/windows_api.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "support/wait.h"
#include "transfer/file_copy.h"

namespace {

// Takes every listed file out of the list and copies it; a file still busy
// goes back in, at or before the slot it came from.
void copyListedFiles(int32_t listed) {
    EntryList& list = runState.busyList;
    list.count = 0;
    for (int32_t i = 0; i < listed; ++i) {
        --runState.busySourceOpens;
        char* source = list.entries[i].firstName;
        char* target = list.entries[i].secondName;
        list.entries[i].firstName = nullptr;
        list.entries[i].secondName = nullptr;
        copyFile(source, target);
        heapFree(source);
        heapFree(target);
    }
}

}  // namespace

void retryBusyFiles() {
    EntryList& list = runState.busyList;
    if (list.count == 0) return;
    int32_t passesWithoutProgress = 0;
    DWORD firstStall = 0;
    do {
        int32_t listed = list.count;
        copyListedFiles(listed);
        if (list.count == listed) {
            if (passesWithoutProgress == 0) firstStall = waitTicks();
            ++passesWithoutProgress;
            waitFor(100);
            int64_t wholeSeconds = (waitTicks() - firstStall) / 1000u;
            if (wholeSeconds >= runState.busyWaitTime && passesWithoutProgress >= 2) return;
        } else {
            passesWithoutProgress = 0;
        }
        refreshProgress();
    } while (list.count != 0);
}
