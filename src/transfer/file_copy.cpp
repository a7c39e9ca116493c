#include "transfer/file_copy.h"

#include <cstdio>

#include "engine/folder_maker.h"
#include "engine/path_checks.h"
#include "platform/name_lookup.h"
#include "platform/platform.h"
#include "report/error_name.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "support/wait.h"
#include "transfer/file_verify.h"

namespace {

constexpr DWORD kBlockSize = 131072;
// The attributes a new target may carry while it is being filled; the rest
// (read-only above all) are given once it is complete.
constexpr DWORD kCreateAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kSourceFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL;

// Not every name is known to the POSIX backend, so the codes stand as numbers:
// too many open files, not enough memory, out of memory, sharing violation,
// lock violation, sharing buffer exceeded, network busy, sharing paused, out of
// structures, open failed, insufficient buffer, busy drive, path busy, busy,
// locked, cannot open.
constexpr DWORD kBusyErrors[] = {4, 8, 14, 32, 33, 36, 54, 70, 84, 110, 122, 142, 148, 170, 212, 1011};

// ERROR_INVALID_NAME: the exception entry of a pair that the log cannot hold
// as a list line.
constexpr DWORD kNameUnfitForList = 123;

// The counters a copy puts back when it does not complete.
struct SavedCounters {
    uint32_t filesProcessed = runState.filesProcessed;
    uint32_t virtualFilesProcessed = runState.virtualFilesProcessed;
    int32_t totalFilesCopied = runState.totalFilesCopied;
    double bytesCopied = runState.bytesCopied;
    double virtualBytesCopied = runState.virtualBytesCopied;

    void restore() const {
        runState.filesProcessed = filesProcessed;
        runState.virtualFilesProcessed = virtualFilesProcessed;
        runState.totalFilesCopied = totalFilesCopied;
        runState.bytesCopied = bytesCopied;
        runState.virtualBytesCopied = virtualBytesCopied;
    }
};

// The estimates wrap like the 32-bit counters they are.
void addWrapping(int32_t& counter, uint32_t amount) {
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + amount);
}

void addStorageEstimates(DWORD sizeHigh, DWORD sizeLow) {
    uint32_t pieces = sizeHigh * 131072u + (sizeLow >> 15);
    uint32_t rest = sizeLow & 32767u;
    addWrapping(runState.estimatedClusters, pieces);
    addWrapping(runState.blocks1024, 33u * pieces);
    addWrapping(runState.blocks512, 65u * pieces);
    if (rest != 0) {
        addWrapping(runState.estimatedClusters, 1);
        addWrapping(runState.blocks1024, (rest + 1087u) / 1024u);
        addWrapping(runState.blocks512, (rest + 575u) / 512u);
    }
}

void countCopiedFile() {
    ++runState.filesProcessed;
    ++runState.virtualFilesProcessed;
    ++runState.totalFilesCopied;
}

void copyInTrialRun(const char* source, const char* target) {
    waitFor(runState.delayOpen);
    WIN32_FIND_DATAA data;
    if (!platform::lookUpName(source, &data)) {
        writeDebugTrace(9);
        addException(source, target, 0, kSourceNotFound);
        writeLog("Source file ");
        writeLogName(source);
        writeLog(" dissappeared, nothing to copy\r\n");
        return;
    }
    if (!runState.quiet) writeCopyListLine(source, target);
    addBytes(runState.bytesCopied, data.nFileSizeHigh, data.nFileSizeLow);
    addBytes(runState.virtualBytesCopied, data.nFileSizeHigh, data.nFileSizeLow);
    addStorageEstimates(data.nFileSizeHigh, data.nFileSizeLow);
    countCopiedFile();
    refreshProgress();
}

HANDLE openSourceAs(const char* source, DWORD access, DWORD share, DWORD flags) {
    return CreateFileA(source, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Opens the source as leniently as the settings allow; `sharedForWriting`
// tells that another program may be changing it while it is read.
HANDLE openSource(const char* source, bool& sharedForWriting) {
    sharedForWriting = false;
    if (runState.noShare) return openSourceAs(source, GENERIC_READ, 0, kSourceFlags);
    HANDLE file = openSourceAs(source, GENERIC_READ, FILE_SHARE_READ, kSourceFlags);
    if (file != INVALID_HANDLE_VALUE) return file;
    writeDebugTrace(10);
    waitFor(runState.delayOpen);
    file = openSourceAs(source, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        kSourceFlags);
    if (file != INVALID_HANDLE_VALUE) {
        sharedForWriting = true;
        return file;
    }
    writeDebugTrace(11);
    waitFor(runState.delayOpen);
    return openSourceAs(source, GENERIC_READ, FILE_SHARE_READ,
                        kSourceFlags | FILE_FLAG_BACKUP_SEMANTICS);
}

// A source that cannot be opened waits for the retry pass when it is in use,
// and is reported otherwise.
void handleSourceOpenFailure(const char* source, const char* target) {
    writeDebugTrace(12);
    DWORD code = GetLastError();
    if (isBusyError(code) && addBusyFile(source, target, code)) return;
    reportError("Error opening file", code, 0, source, target);
    ++runState.busySourceOpens;
}

// Creates the target, making its folder or removing what stands in the way.
// Returns the open target, or INVALID_HANDLE_VALUE after the failure was dealt
// with; `replaced` tells that an existing file was overwritten.
HANDLE createTarget(const char* source, const char* target, DWORD attributes, bool& replaced) {
    for (;;) {
        waitFor(runState.delayOpen);
        HANDLE file =
            CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
        DWORD code = GetLastError();
        if (file != INVALID_HANDLE_VALUE) {
            replaced = code == ERROR_ALREADY_EXISTS;
            return file;
        }
        if (code == ERROR_SHARING_VIOLATION) {
            reportError("Sharing violation on old file", code, 0, source, target);
            return INVALID_HANDLE_VALUE;
        }
        if (code == ERROR_PATH_NOT_FOUND) {
            if (makeTargetFolder(source, target, nullptr)) continue;
            // Said aloud: a file left out in silence would pass for copied.
            reportError("Unable to create target folder", code, 0, source, target);
            return INVALID_HANDLE_VALUE;
        }
        // Whatever is in the way (a read-only file, a link) goes.
        if (runState.verbose) {
            writeLog(": Removing ");
            writeLogName(target);
            writeLog("\r\n");
        }
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(target)) {
            reportError("Unable to delete old file", GetLastError(), 0, source, target);
            return INVALID_HANDLE_VALUE;
        }
    }
}

// Only the last-access time is put back on the source: writing its
// last-write time back would hide a change made while it was being read.
void restoreSourceAccessTime(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
    SetFileTime(file, nullptr, &info.ftLastAccessTime, nullptr);
}

void reportWriteFailure(const char* source, const char* target, DWORD code) {
    addException(source, target, code, 0);
    writeLog(": KAZ - Error writing ");
    writeLogName(target);
    writeLog(".\r\n");
    writeLogEntry("COPY ", source, target);
}

uint64_t fileSize(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

bool sameVersion(const BY_HANDLE_FILE_INFORMATION& before,
                 const BY_HANDLE_FILE_INFORMATION& after) {
    return before.dwFileAttributes != 0 && after.dwFileAttributes != 0 &&
           before.nFileSizeHigh == after.nFileSizeHigh &&
           before.nFileSizeLow == after.nFileSizeLow &&
           before.ftLastWriteTime.dwLowDateTime == after.ftLastWriteTime.dwLowDateTime &&
           before.ftLastWriteTime.dwHighDateTime == after.ftLastWriteTime.dwHighDateTime;
}

// A source that changed while it was copied leaves no copy behind that
// looks up to date; the retry pass copies a settled version.
void treatAsBusy(const char* source, const char* target, const SavedCounters& saved) {
    DeleteFileA(target);
    saved.restore();
    if (addBusyFile(source, target, ERROR_SHARING_VIOLATION)) return;
    reportError("Error opening file", ERROR_SHARING_VIOLATION, 0, source, target);
    ++runState.busySourceOpens;
}

void dropLastBusyEntry() {
    EntryList& list = runState.busyList;
    --list.count;
    heapFree(list.entries[list.count].firstName);
    heapFree(list.entries[list.count].secondName);
    list.entries[list.count] = ListEntry{};
}

// Compares a copy whose source others could write to while it was read.
void compareCopy(const char* source, const char* target, const SavedCounters& saved) {
    // The compare counts the file and its bytes itself when they are equal.
    saved.restore();
    int32_t busyBefore = runState.busyList.count;
    int equal = verifyFile(source, target);
    if (runState.busyList.count != busyBefore) {
        dropLastBusyEntry();
        DeleteFileA(target);
        equal = 0;
    }
    if (equal) return;
    saved.restore();
    addEntry(runState.exceptionList, source, target, 0, kVerifyError);
}

void copyForReal(const char* source, const char* target) {
    waitFor(runState.delayOpen);
    bool sharedForWriting = false;
    HANDLE from = openSource(source, sharedForWriting);
    if (from == INVALID_HANDLE_VALUE) {
        handleSourceOpenFailure(source, target);
        return;
    }
    BY_HANDLE_FILE_INFORMATION info;
    lookupFileInfo(info, source);

    bool replaced = false;
    HANDLE to = createTarget(source, target, info.dwFileAttributes & kCreateAttributes, replaced);
    if (to == INVALID_HANDLE_VALUE) {
        CloseHandle(from);
        return;
    }
    if (replaced) ++runState.totalFilesDeleted;
    ++runState.filesCreated;

    const SavedCounters saved;
    setShownSource(source);
    setShownTarget(target);

    // Every way out of the loop below that does not complete the copy. It
    // comes before the report: a log that cannot take the report ends the
    // run, and must not leave a partial target behind that looks like a copy.
    auto abandon = [&]() {
        saved.restore();
        restoreSourceAccessTime(from, info);
        CloseHandle(from);
        CloseHandle(to);
        DeleteFileA(target);
    };

    char* buffer = runState.transferBuffer1;
    // Blocks go through the kernel's copy offload while it serves this pair;
    // from its first refusal on, plain reads and writes carry on, and they
    // also finish (or report the failure of) the block it left.
    bool offload = true;
    uint64_t copiedTotal = 0;
    for (;;) {
        if (checkCancel()) {
            abandon();
            fatalMessage(1, "Program terminated due to Cancel");
        }
        waitFor(runState.delaySource);
        DWORD count = 0;
        const bool triedOffload = offload;
        if (offload) {
            waitFor(runState.delayTarget);
            offload = platform::copyFileRange(from, to, kBlockSize, &count) != FALSE;
        }
        if (!offload) {
            DWORD read = 0;
            if (!ReadFile(from, buffer, kBlockSize - count, &read, nullptr)) {
                DWORD code = GetLastError();
                abandon();
                reportError("Error reading file", code, 0, source, target);
                return;
            }
            if (read == 0 && count == 0) break;
            if (!triedOffload) waitFor(runState.delayTarget);
            DWORD written = 0;
            SetLastError(ERROR_SUCCESS);
            if (!WriteFile(to, buffer, read, &written, nullptr) || written < read) {
                DWORD code = GetLastError();
                abandon();
                reportWriteFailure(source, target, code);
                return;
            }
            count += read;
        }
        if (count == 0) break;
        copiedTotal += count;
        addBytes(runState.bytesCopied, 0, count);
        addBytes(runState.virtualBytesCopied, 0, count);
        // Cancel is checked at the top of the loop, where the copy can tidy up.
        refreshProgressDisplay();
        if (count < kBlockSize) break;
    }

    restoreSourceAccessTime(from, info);
    SetFileTime(to, &info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime);
    CloseHandle(from);
    // The close can be the first to say that written data did not arrive.
    if (!CloseHandle(to)) {
        DWORD code = GetLastError();
        saved.restore();
        DeleteFileA(target);
        reportWriteFailure(source, target, code);
        return;
    }

    BY_HANDLE_FILE_INFORMATION after;
    lookupFileInfo(after, source);
    // A read that came back short before the size the source still has is
    // no end of file: the copy is incomplete, whatever the read said.
    if (!sameVersion(info, after) || copiedTotal < fileSize(info)) {
        treatAsBusy(source, target, saved);
        return;
    }

    // The owner comes first: a set-user-ID bit given before it would make the
    // copy, for a moment, a set-user-ID file of the wrong owner.
    platform::copyOwner(source, target);
    if (info.dwFileAttributes != (info.dwFileAttributes & kCreateAttributes))
        SetFileAttributesA(target, info.dwFileAttributes);
    addStorageEstimates(info.nFileSizeHigh, info.nFileSizeLow);

    if (sharedForWriting) {
        compareCopy(source, target, saved);
        return;
    }
    writeCopyListLine(source, target);
    countCopiedFile();
    refreshProgress();
}

}  // namespace

bool isBusyError(DWORD code) {
    for (DWORD busy : kBusyErrors) {
        if (code == busy) return true;
    }
    return false;
}

void reportError(const char* message, DWORD code, int32_t messageIndex, const char* source,
                 const char* target) {
    writeLog(": KAZ - ");
    writeLog(message);
    writeLog("  ");
    if (code != 0) {
        char number[16];
        std::snprintf(number, sizeof number, "(%u)\r\n", static_cast<unsigned>(code));
        writeLog2(errorName(code), number);
    }
    if (messageIndex != 0) writeLog2(resultMessages[messageIndex], "\r\n");
    writeLog(": ");
    writeLogPair(source, target);
    writeLog("\r\n");
    addException(source, target, code, messageIndex);
}

void writeCopyListLine(const char* source, const char* target) {
    // The file is where it belongs, but a replay of the log would not see it:
    // the exception list says so.
    if (!writeLogEntry("", source, target) && runState.logHandle != INVALID_HANDLE_VALUE)
        addEntry(runState.exceptionList, source, target, kNameUnfitForList, 0);
}

void copyFile(const char* source, const char* target) {
    if (runState.trialRun) {
        copyInTrialRun(source, target);
    } else {
        copyForReal(source, target);
    }
}
