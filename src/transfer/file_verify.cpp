#include "transfer/file_verify.h"

#include <cstring>
#include <functional>

#include "platform/listed_open.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/wait.h"
#include "transfer/file_copy.h"
#include "transfer/file_lookup.h"

namespace {

constexpr DWORD kBlockSize = RunState::kTransferBufferSize;
constexpr DWORD kOpenFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL;

HANDLE openExisting(const char* path, DWORD access, DWORD share, DWORD flags) {
    waitFor(runState.delayOpen);
    return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Three ever more lenient attempts; the traces mark the second and third.
HANDLE openForCompare(const char* path, DWORD flags, int32_t secondTrace, int32_t thirdTrace) {
    HANDLE file = openExisting(path, GENERIC_READ, FILE_SHARE_READ, flags);
    if (file != INVALID_HANDLE_VALUE) return file;
    writeDebugTrace(secondTrace);
    file = openExisting(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        flags);
    if (file != INVALID_HANDLE_VALUE) return file;
    writeDebugTrace(thirdTrace);
    return openExisting(path, GENERIC_READ, FILE_SHARE_READ, flags | FILE_FLAG_BACKUP_SEMANTICS);
}

bool isMissing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Why one side could not be opened, recorded; the result verifyFile returns.
int reportOpenFailure(DWORD code, const char* source, const char* target, bool sourceSide) {
    if (isMissing(code)) {
        addException(source, target, 0, sourceSide ? kSourceNotFound : kTargetNotFound);
        writeLog(sourceSide ? ": Source file " : ": Target file ");
        writeLogName(sourceSide ? source : target);
        // Kept as written, misspelling included: logs and messages are read by
        // people's scripts.
        writeLog(" dissappeared, nothing to verify\r\n");
        return 1;
    }
    if (isBusyError(code) && addBusyFile(source, target, code)) return 1;
    reportError(sourceSide ? "Error opening source file" : "Error opening target file", code, 0,
                source, target);
    ++runState.busySourceOpens;
    return 0;
}

// Both files, with what they said of themselves before they were read.
struct ComparedPair {
    HANDLE source;
    HANDLE target;
    BY_HANDLE_FILE_INFORMATION sourceInfo;
    BY_HANDLE_FILE_INFORMATION targetInfo;

    // Reading must leave the last-access times as they were; the last-write
    // times are left alone, so that a change made meanwhile stays visible.
    void restoreTimesAndClose() {
        restoreAccessTime(source, sourceInfo);
        restoreAccessTime(target, targetInfo);
        closeBoth();
    }
    void closeBoth() {
        CloseHandle(source);
        CloseHandle(target);
    }
};

// The open file's own record; by its name only where the handle cannot
// tell, which costs a look-up through every folder of the path.
void describeOpenFile(HANDLE file, const char* name, BY_HANDLE_FILE_INFORMATION& record) {
    if (!GetFileInformationByHandle(file, &record)) lookupFileInfo(record, name);
}

bool sameSize(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow;
}

DWORD blockWanted(uint64_t left) {
    return left < kBlockSize ? static_cast<DWORD>(left) : kBlockSize;
}

int countEqualPair(const char* source, const char* target) {
    writeCopyListLine(source, target);
    ++runState.filesProcessed;
    ++runState.virtualFilesProcessed;
    ++runState.totalFilesCopied;
    return 1;
}

// Compares block by block the size both files had when they were opened,
// each read asking for no more than is left, so that no read is spent on
// finding the end: 1 when equal or the source could not be read, 0 for any
// other difference or failure. Closes both files.
int compareContents(ComparedPair& pair, const char* source, const char* target) {
    char* sourceBlock = runState.transferBuffer1;
    char* targetBlock = runState.transferBuffer2;
    for (uint64_t left = fileSize(pair.sourceInfo); left > 0;) {
        const DWORD wanted = blockWanted(left);
        if (checkCancel()) {
            pair.restoreTimesAndClose();
            fatalMessage(1, "Program terminated due to Cancel");
        }
        waitFor(runState.delaySource);
        DWORD sourceCount = 0;
        if (!ReadFile(pair.source, sourceBlock, wanted, &sourceCount, nullptr)) {
            writeDebugTrace(7);
            reportError("Error reading source file", GetLastError(), 0, source, target);
            pair.restoreTimesAndClose();
            return 1;
        }
        waitFor(runState.delayTarget);
        DWORD targetCount = 0;
        if (!ReadFile(pair.target, targetBlock, wanted, &targetCount, nullptr)) {
            writeDebugTrace(8);
            reportError("Error reading file target", GetLastError(), 0, source, target);
            pair.restoreTimesAndClose();
            return 0;
        }
        if (sourceCount != targetCount || std::memcmp(sourceBlock, targetBlock, sourceCount) != 0) {
            reportError("Error source and target not the same", GetLastError(), 0, source, target);
            pair.restoreTimesAndClose();
            return 0;
        }
        addBytes(runState.bytesCopied, 0, sourceCount);
        addBytes(runState.virtualBytesCopied, 0, sourceCount);
        // Cancel is checked at the top of the loop, where the files are closed.
        refreshProgressDisplay();
        // Both ended early alike: what they still hold is equal.
        if (sourceCount < wanted) break;
        left -= sourceCount;
    }
    pair.restoreTimesAndClose();
    return countEqualPair(source, target);
}

// compareContents without a word said: true when the next `left` bytes of
// both files are the same.
bool contentsMatch(ComparedPair& pair, PairBlocks blocks, const std::function<bool()>& stop,
                   uint64_t left) {
    while (left > 0) {
        const DWORD wanted = blockWanted(left);
        if (stop()) return false;
        DWORD sourceCount = 0, targetCount = 0;
        if (!ReadFile(pair.source, blocks.source, wanted, &sourceCount, nullptr) ||
            !ReadFile(pair.target, blocks.target, wanted, &targetCount, nullptr) ||
            sourceCount != targetCount ||
            std::memcmp(blocks.source, blocks.target, sourceCount) != 0) {
            return false;
        }
        if (sourceCount < wanted) break;
        left -= sourceCount;
    }
    return true;
}

bool seekTo(HANDLE file, uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

}  // namespace

bool pairMatches(const ListedPair& names, PairBlocks blocks, const std::function<bool()>& stop,
                 PairPart part, uint64_t& size) {
    // The caller has announced these reads: the opens give no hint of their own.
    ComparedPair pair{};
    pair.source = platform::openListedFile(names.source, names.sourceAttributes, FILE_SHARE_READ,
                                           FILE_ATTRIBUTE_NORMAL);
    if (pair.source == INVALID_HANDLE_VALUE) return false;
    pair.target = platform::openListedFile(names.target, names.targetAttributes, FILE_SHARE_READ,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (pair.target == INVALID_HANDLE_VALUE) {
        CloseHandle(pair.source);
        return false;
    }
    if (!GetFileInformationByHandle(pair.source, &pair.sourceInfo) ||
        !GetFileInformationByHandle(pair.target, &pair.targetInfo) ||
        !sameSize(pair.sourceInfo, pair.targetInfo)) {
        pair.closeBoth();
        return false;
    }
    size = fileSize(pair.sourceInfo);
    const uint64_t from = part.from < size ? part.from : size;
    const uint64_t length = part.length < size - from ? part.length : size - from;
    if (from > 0 && (!seekTo(pair.source, from) || !seekTo(pair.target, from))) {
        pair.closeBoth();
        return false;
    }
    const bool equal = contentsMatch(pair, blocks, stop, length);
    pair.restoreTimesAndClose();
    return equal;
}

void countMatchedPair(const char* source, const char* target, uint64_t size) {
    const auto high = static_cast<DWORD>(size >> 32);
    const auto low = static_cast<DWORD>(size);
    addBytes(runState.bytesCopied, high, low);
    addBytes(runState.virtualBytesCopied, high, low);
    countEqualPair(source, target);
}

int verifyFile(const char* source, const char* target) {
    ComparedPair pair{};
    // A link where the target file should be is compared as what it is, never
    // as the file it leads to; a source is read as the system gives it.
    pair.source = openForCompare(source, kOpenFlags, 1, 2);
    if (pair.source == INVALID_HANDLE_VALUE) {
        writeDebugTrace(3);
        return reportOpenFailure(GetLastError(), source, target, true);
    }
    pair.target = openForCompare(target, kOpenFlags | FILE_FLAG_OPEN_REPARSE_POINT, 4, 5);
    if (pair.target == INVALID_HANDLE_VALUE) {
        writeDebugTrace(6);
        DWORD code = GetLastError();
        CloseHandle(pair.source);
        return reportOpenFailure(code, source, target, false);
    }
    setShownSource(source);
    setShownTarget(target);
    describeOpenFile(pair.source, source, pair.sourceInfo);
    describeOpenFile(pair.target, target, pair.targetInfo);

    if (!sameSize(pair.sourceInfo, pair.targetInfo)) {
        pair.closeBoth();
        addException(source, target, 0, kDifferentLength);
        writeLog(": Source and Target file of different length\r\n");
        writeLog(": Source: ");
        writeLogName(source);
        writeLog("\r\n");
        return 0;
    }
    if (runState.trialRun) {
        addBytes(runState.bytesCopied, pair.sourceInfo.nFileSizeHigh, pair.sourceInfo.nFileSizeLow);
        addBytes(runState.virtualBytesCopied, pair.sourceInfo.nFileSizeHigh,
                 pair.sourceInfo.nFileSizeLow);
        pair.closeBoth();
        return countEqualPair(source, target);
    }
    return compareContents(pair, source, target);
}
