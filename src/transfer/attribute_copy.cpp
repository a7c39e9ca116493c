#include "transfer/attribute_copy.h"

#include <algorithm>
#include <cstdio>

#include "platform/extended_attributes.h"
#include "platform/owner_copy.h"
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

platform::AttributeOutcome carry(HANDLE from, HANDLE to, const char* source, const char* target) {
    platform::AttributeOutcome outcome = platform::copyExtendedAttributes(from, to);
    if (outcome.refused()) {
        ++runState.attributesNotCarried;
        if (!toldAlready(outcome.code)) tellRefusal(outcome, source, target);
    }
    return outcome;
}

// `settled`, where given, is the source's attribute word, for a target whose
// attributes were found equal.
bool carryByName(const char* source, const char* target, const DWORD* settled) {
    HANDLE from = openItself(source);
    if (from == INVALID_HANDLE_VALUE) return false;
    platform::AttributeOutcome outcome;
    HANDLE to = openItself(target);
    if (to != INVALID_HANDLE_VALUE) {
        outcome = carry(from, to, source, target);
        if (settled != nullptr && !outcome.changed && !outcome.refused())
            platform::givePermissionsOfOpen(to, *settled);
        CloseHandle(to);
    }
    CloseHandle(from);
    return outcome.changed;
}

}  // namespace

bool carryExtendedAttributes(HANDLE from, HANDLE to, const char* source, const char* target) {
    return carry(from, to, source, target).changed;
}

bool carryExtendedAttributesUntold(HANDLE from, HANDLE to) {
    return !platform::copyExtendedAttributes(from, to).refused();
}

bool carryExtendedAttributesByName(const char* source, const char* target) {
    return carryByName(source, target, nullptr);
}

bool carryAttributesToUpToDateFile(const char* source, const char* target,
                                   DWORD sourceAttributes) {
    return carryByName(source, target, &sourceAttributes);
}
