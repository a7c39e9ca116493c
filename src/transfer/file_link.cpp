#include "transfer/file_link.h"

#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/wait.h"
#include "transfer/file_copy.h"

namespace {

constexpr unsigned kReplacementAttempts = 100;

// The link takes an old target's place only as a copy would: complete, in
// one rename, and never while another program holds the old one.
bool replaceWithLink(const char* existing, const char* target) {
    if (targetInUse(target)) return false;
    for (unsigned attempt = 0; attempt < kReplacementAttempts; ++attempt) {
        std::string beside = replacementNameFor(target, attempt);
        if (!CreateHardLinkA(beside.c_str(), existing, nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        if (MoveFileExA(beside.c_str(), target, MOVEFILE_REPLACE_EXISTING)) {
            ++runState.totalFilesDeleted;
            return true;
        }
        DeleteFileA(beside.c_str());
        return false;
    }
    return false;
}

bool placeLink(const char* existing, const char* target) {
    if (CreateHardLinkA(target, existing, nullptr)) return true;
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) return false;
    return replaceWithLink(existing, target);
}

// A comment line: a replay passes over it, as it has nothing to copy.
void writeLinkLine(const char* existing, const char* target) {
    if (runState.trialRun && runState.quiet) return;
    writeLog(": Hard link ");
    writeLogPair(existing, target);
    writeLog("\r\n");
}

}  // namespace

bool linkFile(const char* existing, const char* target) {
    waitFor(runState.delayOpen);
    if (!runState.trialRun) {
        if (!placeLink(existing, target)) return false;
        ++runState.filesCreated;
    }
    writeLinkLine(existing, target);
    ++runState.filesProcessed;
    ++runState.virtualFilesProcessed;
    refreshProgress();
    return true;
}
