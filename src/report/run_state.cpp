#include "report/run_state.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "support/heap.h"
#include "support/run_stop.h"

const char* const resultMessages[5] = {
    "No Error", "Verify Error", "Source file not found", "Target file not found",
    "Files of different length",
};

RunState runState;

namespace {
constexpr int32_t kListGrowth = 100;

char* copyText(const char* text) {
    size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(heapAllocate(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

bool growList(EntryList& list) {
    // Long lists grow by half their size so that adding stays cheap.
    int32_t capacity = list.capacity + std::max(kListGrowth, list.capacity / 2);
    auto* grown = static_cast<ListEntry*>(
        heapAllocateZeroed(static_cast<size_t>(capacity), sizeof(ListEntry)));
    if (grown == nullptr) return false;
    for (int32_t i = 0; i < list.count; ++i) grown[i] = list.entries[i];
    heapFree(list.entries);
    list.entries = grown;
    list.capacity = capacity;
    return true;
}
}  // namespace

void resetRunState() {
    runState.~RunState();
    new (&runState) RunState();
    installRunStop(showAndCloseLog);
}

RunState::RunState() { std::memset(logBuffer, 0, sizeof logBuffer); }

RunState::~RunState() {
    destroyList(exceptionList);
    destroyList(busyList);
    destroyList(recopyList);
    for (int32_t i = 0; i < excludeCount; ++i) heapFree(excludeFilters[i]);
    heapFree(excludeFilters);
    heapFree(entryTable);
    heapFree(entryNames);
    heapFree(transferBuffer1);
    heapFree(transferBuffer2);
}

void RunState::clearSettings() {
    sourceArg = TextBuffer();
    targetArg = TextBuffer();
    logFileName = TextBuffer();
    excludeText = TextBuffer(nullptr, 100);
    busyWaitTime = delayOpen = delaySource = delayTarget = 0;
    debug = dos = noUnc = noWarn = quiet = noShare = 0;
    tally = test = time = trialRun = verbose = verify = 0;
    maxErrors = 0;
    limitDelete = -1;
}

int addEntry(EntryList& list, const char* firstName, const char* secondName, DWORD code,
             int32_t messageIndex) {
    if (list.count == list.capacity && !growList(list)) return 0;
    char* first = copyText(firstName);
    if (first == nullptr) return 0;
    char* second = copyText(secondName);
    if (second == nullptr) {
        heapFree(first);
        return 0;
    }
    list.entries[list.count] = ListEntry{first, second, code, messageIndex};
    ++list.count;
    return 1;
}

int addException(const char* firstName, const char* secondName, DWORD code,
                 int32_t messageIndex) {
    ++runState.exceptionCount;
    return addEntry(runState.exceptionList, firstName, secondName, code, messageIndex);
}

int addBusyFile(const char* source, const char* target, DWORD code) {
    ++runState.busySourceOpens;
    return addEntry(runState.busyList, source, target, code, 0);
}

void addBytes(double& total, DWORD high, DWORD low) {
    total += static_cast<double>(high) * 4294967296.0 + static_cast<double>(low);
}

void destroyList(EntryList& list) {
    for (int32_t i = 0; i < list.count; ++i) {
        heapFree(list.entries[i].firstName);
        heapFree(list.entries[i].secondName);
    }
    heapFree(list.entries);
    list = EntryList{};
}
