#include "transfer/attribute_copy.h"

#include <algorithm>
#include <cstdio>

#include "platform/extended_attributes.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/log_file.h"
#include "report/run_state.h"

namespace {

bool toldAlready(DWORD code) {
    const std::vector<DWORD>& told = runState.attributeRefusalsTold;
    return std::find(told.begin(), told.end(), code) != told.end();
}

// A comment, so that a replay passes over it; one a run for each reason, as
// a target that refuses one file's attributes refuses every file's.
void tellRefusal(const platform::AttributeOutcome& refused, const char* source,
                 const char* target) {
    runState.attributeRefusalsTold.push_back(refused.code);
    char number[16];
    std::snprintf(number, sizeof number, "(%u)\r\n", static_cast<unsigned>(refused.code));
    writeLog3(": KAZ - Extended attributes not carried  ", errorName(refused.code), number);
    writeLog(": ");
    if (!refused.name.empty()) writeLog2(refused.name.c_str(), " of ");
    writeLogPair(source, target);
    writeLog("\r\n: (told once a run for each reason; the statistics count the entries)\r\n");
}

HANDLE openItself(const char* path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

bool carryExtendedAttributes(HANDLE from, HANDLE to, const char* source, const char* target) {
    platform::AttributeOutcome outcome = platform::copyExtendedAttributes(from, to);
    if (!outcome.refused()) return outcome.changed;
    ++runState.attributesNotCarried;
    if (!toldAlready(outcome.code)) tellRefusal(outcome, source, target);
    return outcome.changed;
}

bool carryExtendedAttributesByName(const char* source, const char* target) {
    HANDLE from = openItself(source);
    if (from == INVALID_HANDLE_VALUE) return false;
    bool changed = false;
    HANDLE to = openItself(target);
    if (to != INVALID_HANDLE_VALUE) {
        changed = carryExtendedAttributes(from, to, source, target);
        CloseHandle(to);
    }
    CloseHandle(from);
    return changed;
}
