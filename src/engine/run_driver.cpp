#include "engine/run_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/copy_list.h"
#include "engine/path_checks.h"
#include "engine/reference_folder.h"
#include "engine/run_summary.h"
#include "engine/synchronize.h"
#include "engine/verify_walk.h"
#include "platform/anchors.h"
#include "platform/tree_prefetch.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/progress_dialog.h"
#include "report/run_state.h"
#include "support/failure_stops.h"
#include "support/heap.h"
#include "support/run_stop.h"
#include "support/text_buffer.h"
#include "support/wait.h"
#include "transfer/folder_maker.h"

namespace {

constexpr uint32_t kTransferBufferSize = RunState::kTransferBufferSize;
constexpr int kHeaderColumn = 17;  // the length of "Exclude filters: "
constexpr int kLastColumn = 78;

char* allocateTransferBuffer() {
    auto* block = static_cast<char*>(heapAllocate(kTransferBufferSize));
    if (block == nullptr) outOfMemory(static_cast<int32_t>(kTransferBufferSize));
    return block;
}

void writeExcludeFilters() {
    if (runState.excludeCount <= 0) return;
    int width = 0;
    for (int32_t i = 0; i < runState.excludeCount; ++i) {
        width = std::max(width, static_cast<int>(std::strlen(runState.excludeFilters[i])));
    }
    width += 1;
    writeLog("Exclude filters: ");
    int column = kHeaderColumn;
    for (int32_t i = 0; i < runState.excludeCount; ++i) {
        column += width;
        if (column > kLastColumn) {
            writeLog("\r\n                 ");
            column = kHeaderColumn + width;
        }
        writeLog2(runState.excludeFilters[i], " ");
    }
    writeLog("\r\n");
}

void writeRunHeader(const char* sourcePattern, const char* targetPattern) {
    writeLog("goto COPY\r\n");
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[100] = "", time[100] = "";
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &now, nullptr, date, 100) == 0) {
        date[0] = '\0';
    }
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &now, nullptr, time, 100) ==
        0) {
        time[0] = '\0';
    }
    writeLog3("KAZ Version 1.3", " - ", date);
    writeLog3(" ", time, "\r\n\r\n");
    writeLog(runState.verify ? "KAZ will verify the following:\r\n"
                             : "KAZ will synchronize the following:\r\n");
    writeLog("Source: ");
    writeLogName(sourcePattern);
    writeLog("\r\nTarget: ");
    writeLogName(targetPattern);
    writeLog("\r\n");
    writeExcludeFilters();
}

void confirmRun(const char* sourcePattern, const char* targetPattern) {
    // Kept as written, misspelling included: logs and messages are read by
    // people's scripts.
    const char* format =
        runState.verify
            ? "The Source files and (sub)directoriess will be verified with the Target:\n\n"
              "Source:\t%s\nTarget:\t%s\n\nDo you wish to proceed?"
            : "Target files and (sub)directoriess will become identical to the Source:\n\n"
              "Source:\t%s\nTarget:\t%s\n\nDo you wish to proceed?";
    std::string text(std::strlen(format) + std::strlen(sourcePattern) +
                         std::strlen(targetPattern),
                     '\0');
    std::snprintf(text.data(), text.size(), format, sourcePattern, targetPattern);
    if (MessageBoxA(dialogWindow(runState.progressDialog), text.c_str(), "KAZ", MB_YESNO) ==
        IDNO) {
        stopRun(1);
    }
}

// The work of the mode; 0 when it ran to its end.
int runMode(int mode, const char* sourcePattern, const char* targetPattern) {
    switch (mode) {
        case TreeToTree: return walkFolderPair(sourcePattern, targetPattern, TreeToTree);
        case Script: return replayCopyList();
        default: return runReferenceFolder(mode);
    }
}

// "dir/*.*" names the folder "dir/".
std::string patternFolder(const char* pattern) {
    std::string folder(pattern);
    if (folder.size() >= 3) folder.resize(folder.size() - 3);
    return folder.empty() ? "." : folder;
}

// Both trees are read ahead while the walk goes, unless the user throttles
// opens: the read-ahead would not keep to the delay.
class ReadAhead {
public:
    ReadAhead(const char* sourcePattern, const char* targetPattern) {
        if (runState.delayOpen > 0) return;
        source_ = platform::startTreePrefetch(patternFolder(sourcePattern).c_str());
        // A verify lists only the source and opens the target's files by the
        // source's names: the target is read as far ahead as the source's walk.
        target_ = platform::startTreePrefetch(patternFolder(targetPattern).c_str(),
                                              runState.verify ? source_ : nullptr);
    }
    ~ReadAhead() {
        platform::stopTreePrefetch(source_);
        platform::stopTreePrefetch(target_);
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

private:
    platform::TreePrefetch* source_ = nullptr;
    platform::TreePrefetch* target_ = nullptr;
};

}  // namespace

int walkFolderPair(const char* sourcePattern, const char* targetPattern, int mode) {
    // Below the two roots nothing is reached through a link from here on, to
    // the end of the run: the retry pass copies below them too.
    platform::anchorFolder(patternFolder(sourcePattern).c_str());
    platform::anchorFolder(patternFolder(targetPattern).c_str());
    if (!runState.verify) checkTargetFolder(sourcePattern, targetPattern, mode);
    ReadAhead readAhead(sourcePattern, targetPattern);
    if (runState.verify) return verifyFolder(sourcePattern, targetPattern, 0);
    return synchronizeFolder(sourcePattern, targetPattern, 0);
}

void checkTargetFolder(const char* sourcePattern, const char* targetPattern, int mode) {
    waitFor(runState.delayOpen);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(targetPattern, &entry);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        return;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return;
    if (code == ERROR_PATH_NOT_FOUND) {
        if (makeTargetFolder(sourcePattern, targetPattern, runState.sourceArg.text())) return;
        // Why the folder could not be made, not that it was missing.
        code = GetLastError();
    }
    // Each mode has its own trace point; restoring a reference folder none.
    SetLastError(code);
    if (mode == TreeToTree) writeDebugTrace(18);
    if (mode == ReferenceToTree) writeDebugTrace(19);
    fatalWithCode("Error in destination path (", targetPattern, GetLastError());
}

int runDriver(int mode) {
    TextBuffer sourcePattern(runState.sourceArg.text(), 10);
    TextBuffer targetPattern(runState.targetArg.text(), 10);
    switch (mode) {
        case TreeToTree:
            makeSearchPattern(sourcePattern);
            makeSearchPattern(targetPattern);
            checkPathRelation(sourcePattern.text(), targetPattern.text());
            break;
        case ReferenceToTree: makeSearchPattern(targetPattern); break;
        case TreeToReference: makeSearchPattern(sourcePattern); break;
        case Script: break;
        default:
            MessageBoxA(dialogWindow(runState.progressDialog), "Invalid argument list.", "KAZ",
                        MB_OK);
            return 1;
    }
    setShownSource(sourcePattern.text());
    setShownTarget(targetPattern.text());
    setShownExcludes(runState.excludeText.text());
    runState.forceRefresh = 1;
    refreshProgress();
    runState.transferBuffer1 = allocateTransferBuffer();
    runState.transferBuffer2 = allocateTransferBuffer();
    if (runState.scriptHandle == INVALID_HANDLE_VALUE && !runState.trialRun) {
        writeRunHeader(sourcePattern.text(), targetPattern.text());
        if (!runState.noWarn) confirmRun(sourcePattern.text(), targetPattern.text());
    }
    writeLog(runState.verify ? ":-------- File Verify List --------\r\n"
                             : ":-------- File Copy List --------\r\n");
    runState.runStartTicks = runState.lastTicks = runState.lastRefreshTicks = timeGetTime();
    if (runMode(mode, sourcePattern.text(), targetPattern.text()) != 0) return 1;
    writeEndReport();
    platform::releaseAllAnchors();
    return 0;
}
