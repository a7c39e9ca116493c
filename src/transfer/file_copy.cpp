#include "transfer/file_copy.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/access_time.h"
#include "platform/conventions.h"
#include "platform/copy_offload.h"
#include "platform/name_lookup.h"
#include "platform/owner_copy.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "support/wait.h"
#include "transfer/attribute_copy.h"
#include "transfer/file_lookup.h"
#include "transfer/file_verify.h"
#include "transfer/folder_maker.h"
#include "transfer/hole_skip.h"

namespace {

constexpr DWORD kBlockSize = 131072;
// The attributes a new target may carry while it is being filled; the rest
// (read-only above all) are given once it is complete.
constexpr DWORD kCreateAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kSourceFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL;

constexpr DWORD kBusyErrors[] = {
    ERROR_TOO_MANY_OPEN_FILES, ERROR_NOT_ENOUGH_MEMORY,  ERROR_OUTOFMEMORY,
    ERROR_SHARING_VIOLATION,   ERROR_LOCK_VIOLATION,     ERROR_SHARING_BUFFER_EXCEEDED,
    ERROR_NETWORK_BUSY,        ERROR_SHARING_PAUSED,     ERROR_OUT_OF_STRUCTURES,
    ERROR_OPEN_FAILED,         ERROR_INSUFFICIENT_BUFFER, ERROR_BUSY_DRIVE,
    ERROR_PATH_BUSY,           ERROR_BUSY,               ERROR_LOCKED,
    ERROR_CANTOPEN,
};

constexpr char kReplacementPrefix[] = ".~kaz~";

// The exception entry of a pair that the log cannot hold as a list line.
constexpr DWORD kNameUnfitForList = ERROR_INVALID_NAME;

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
        // Kept as written, misspelling included: logs and messages are read by
        // people's scripts.
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

// A failed copy is an exception, and its pair goes into the recopy list so
// that a replay of the log finishes the job.
void reportCopyFailure(const char* message, DWORD code, int32_t messageIndex, const char* source,
                       const char* target) {
    reportError(message, code, messageIndex, source, target);
    addEntry(runState.recopyList, source, target, code, messageIndex);
}

// A source that cannot be opened waits for the retry pass when it is in use,
// and is reported otherwise.
void handleSourceOpenFailure(const char* source, const char* target) {
    writeDebugTrace(12);
    DWORD code = GetLastError();
    if (isBusyError(code) && addBusyFile(source, target, code)) return;
    reportCopyFailure("Error opening file", code, 0, source, target);
    ++runState.busySourceOpens;
}

// A copy under way.
struct CopyJob {
    const char* source = nullptr;
    const char* target = nullptr;
    HANDLE from = INVALID_HANDLE_VALUE;
    HANDLE to = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info{};
    bool sharedForWriting = false;
    // The name being written: the target itself when there was none, else a
    // name beside it, so that the old copy stays whole until the new one is
    // complete and takes its place in one rename.
    std::string written;
    bool replacing = false;
    // The written file stands under the target's name: nothing is left to
    // remove when the copy goes no further.
    bool placed = false;
    // The copy got its permission bits while it was still open.
    bool permissionsGiven = false;
    uint64_t copiedTotal = 0;
    char* buffer = runState.transferBuffer1;
    // Set for a copy made beside the walk (copyNewFileBeside), which stops
    // when told and leaves counting, showing and telling to the walk.
    const std::atomic<bool>* stopBeside = nullptr;
};

// What stopped a copy once the target was open. The steps only say what it
// was; copyForReal puts the counters back, tidies up and reports, in that
// order, in one place.
struct CopyFailure {
    enum class Kind {
        None,
        Cancel,
        Reading,
        Writing,
        SourceChanged,  // or read short: a settled version is copied later
        OldCopyInUse,
        Replacing,
        Unequal,  // the compare of a source shared for writing
        Declined,  // beside the walk, which copies the pair again itself
    };
    Kind kind = Kind::None;
    DWORD code = 0;

    explicit operator bool() const { return kind != Kind::None; }
};

DWORD createAttributes(const CopyJob& job) {
    return job.info.dwFileAttributes & kCreateAttributes;
}

// A target name is opened as itself: a link or junction found there counts
// as an entry of that name, and what it leads to is never created, written
// or looked at in its place.
constexpr DWORD kTargetItself = FILE_FLAG_OPEN_REPARSE_POINT;

HANDLE createNew(const char* name, DWORD attributes) {
    return CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes | kTargetItself,
                       nullptr);
}

void reportOldCopyInUse(const CopyJob& job) {
    reportCopyFailure("Sharing violation on old file", ERROR_SHARING_VIOLATION, 0, job.source,
                      job.target);
}

bool createReplacement(CopyJob& job) {
    if (targetInUse(job.target)) {
        reportOldCopyInUse(job);
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        job.written = replacementNameFor(job.target, attempt);
        job.to = createNew(job.written.c_str(), createAttributes(job));
        if (job.to != INVALID_HANDLE_VALUE) {
            job.replacing = true;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    reportCopyFailure("Unable to create target file", GetLastError(), 0, job.source, job.target);
    return false;
}

// Opens what the copy writes to, making the target's folder when it is
// missing; false after the failure was dealt with.
bool createTarget(CopyJob& job) {
    for (;;) {
        waitFor(runState.delayOpen);
        job.to = createNew(job.target, createAttributes(job));
        if (job.to != INVALID_HANDLE_VALUE) {
            job.written = job.target;
            return true;
        }
        DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return createReplacement(job);
        if (code == ERROR_PATH_NOT_FOUND && makeTargetFolder(job.source, job.target, nullptr))
            continue;
        // Said aloud: a file left out in silence would pass for copied.
        reportCopyFailure(code == ERROR_PATH_NOT_FOUND ? "Unable to create target folder"
                                                       : "Unable to create target file",
                          code, 0, job.source, job.target);
        return false;
    }
}

// What the open source says of itself: the file being read, whatever its
// name leads to by now. Its size and time after the copy tell whether it was
// written to meanwhile.
void describeSource(HANDLE file, const char* source, BY_HANDLE_FILE_INFORMATION& info) {
    if (!GetFileInformationByHandle(file, &info)) lookupFileInfo(info, source);
}

bool isBeside(const CopyJob& job) { return job.stopBeside != nullptr; }

// Copies beside the walk make and remove target names one at a time, as the
// walk's own copies do: a target folder swapped for a link between two such
// calls is met by the later one, never passed by a call that found the
// folder before the swap and makes a file in it after. Everything else they
// do in the target is through the open copy.
std::mutex besideNameCalls;

// Held by a copy beside the walk while it acts on a target name.
std::unique_lock<std::mutex> nameCallsOf(const CopyJob& job) {
    return isBeside(job) ? std::unique_lock<std::mutex>(besideNameCalls)
                         : std::unique_lock<std::mutex>();
}

// Beside the walk an unanswered status is no version at all, which fails
// the comparison of versions: the walk's copy looks for itself.
void describeOpenSource(const CopyJob& job, BY_HANDLE_FILE_INFORMATION& info) {
    if (!isBeside(job)) {
        describeSource(job.from, job.source, info);
    } else if (!GetFileInformationByHandle(job.from, &info)) {
        info = BY_HANDLE_FILE_INFORMATION{};
    }
}

void reportWriteFailure(const char* source, const char* target, DWORD code) {
    addException(source, target, code, 0);
    addEntry(runState.recopyList, source, target, code, 0);
    writeLog(": KAZ - Error writing ");
    writeLogName(target);
    writeLog(".\r\n");
    writeLogEntry("COPY ", source, target);
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
void leaveForRetry(const CopyJob& job) {
    if (addBusyFile(job.source, job.target, ERROR_SHARING_VIOLATION)) return;
    reportCopyFailure("Error opening file", ERROR_SHARING_VIOLATION, 0, job.source, job.target);
    ++runState.busySourceOpens;
}

void dropLastBusyEntry() {
    EntryList& list = runState.busyList;
    --list.count;
    heapFree(list.entries[list.count].firstName);
    heapFree(list.entries[list.count].secondName);
    list.entries[list.count] = ListEntry{};
}

// Compares a copy whose source others could write to while it was read;
// the compare counts the file and its bytes itself when they are equal.
CopyFailure compareCopy(const CopyJob& job) {
    int32_t busyBefore = runState.busyList.count;
    int equal = verifyFile(job.source, job.target);
    if (runState.busyList.count != busyBefore) {
        dropLastBusyEntry();
        DeleteFileA(job.target);
        equal = 0;
    }
    if (equal) return {};
    return {CopyFailure::Kind::Unequal, 0};
}

void reportUnequalCopy(const CopyJob& job) {
    addEntry(runState.exceptionList, job.source, job.target, 0, kVerifyError);
    addEntry(runState.recopyList, job.source, job.target, 0, kVerifyError);
}

void closeSource(CopyJob& job) {
    CloseHandle(job.from);
    job.from = INVALID_HANDLE_VALUE;
}

// The files still open are closed, and what was written goes unless it
// already stands as the target, so that the old copy (if any) stays as it
// was.
void discardUnplaced(CopyJob& job) {
    if (job.from != INVALID_HANDLE_VALUE) {
        restoreAccessTime(job.from, job.info);
        closeSource(job);
    }
    if (job.to != INVALID_HANDLE_VALUE) {
        CloseHandle(job.to);
        job.to = INVALID_HANDLE_VALUE;
    }
    if (!job.placed) DeleteFileA(job.written.c_str());
}

// How much of the source the next block asks for: no more than the size it
// had when it was opened, so that the copy ends there without one more call
// that only finds the end (a source that grew meanwhile has a new size and
// time, which closeAndCheck compares). A source whose status says it is
// empty (some file systems give no size for what they hold) is read in
// whole blocks until a read comes back short.
DWORD blockWanted(uint64_t size, uint64_t copied) {
    if (copied >= size) return kBlockSize;
    return size - copied < kBlockSize ? static_cast<DWORD>(size - copied) : kBlockSize;
}

void countCopiedBytes(uint64_t count) {
    const auto high = static_cast<DWORD>(count >> 32), low = static_cast<DWORD>(count);
    addBytes(runState.bytesCopied, high, low);
    addBytes(runState.virtualBytesCopied, high, low);
}

// The walk's copy counts its bytes as they go and answers Cancel; a copy
// beside it only stops when told.
bool stopped(const CopyJob& job) {
    return isBeside(job) ? job.stopBeside->load(std::memory_order_relaxed) : checkCancel();
}

// Throttling is the walk's: copies are made beside it only while every
// delay is off, and a delay the panel changes meanwhile (the walk's thread
// writes it) is not even read there.
void throttle(const CopyJob& job, const int32_t& delay) {
    if (!isBeside(job)) waitFor(delay);
}

void countMoved(const CopyJob& job, uint64_t count) {
    if (isBeside(job)) return;
    countCopiedBytes(count);
    refreshProgressDisplay();
}

// Moves the contents block by block, counting the bytes as they go (a
// hole's bytes too: the target holds them as the source does). Blocks go
// through the kernel's copy offload while it serves this pair; from its
// first refusal on, plain reads and writes carry on, and they also finish
// (or fail on) the block it left.
CopyFailure transferContents(CopyJob& job) {
    char* buffer = job.buffer;
    const uint64_t size = fileSize(job.info);
    HoleSkip holes(job.from, job.to);
    bool offload = true;
    for (;;) {
        // Cancel is checked here only, where the copy can tidy up.
        if (stopped(job)) return {CopyFailure::Kind::Cancel, 0};
        const uint64_t beforeHole = job.copiedTotal;
        if (!holes.passHole(job.copiedTotal)) return {CopyFailure::Kind::Reading, GetLastError()};
        if (job.copiedTotal != beforeHole) countMoved(job, job.copiedTotal - beforeHole);
        if (job.copiedTotal != beforeHole && job.copiedTotal == size) break;
        throttle(job, runState.delaySource);
        const DWORD wanted = holes.cut(job.copiedTotal, blockWanted(size, job.copiedTotal));
        DWORD count = 0;
        const bool triedOffload = offload;
        if (offload) {
            throttle(job, runState.delayTarget);
            offload = platform::copyFileRange(job.from, job.to, wanted, &count) != FALSE;
        }
        if (!offload) {
            DWORD read = 0;
            if (!ReadFile(job.from, buffer, wanted - count, &read, nullptr)) {
                return {CopyFailure::Kind::Reading, GetLastError()};
            }
            if (read == 0 && count == 0) break;
            if (!triedOffload) throttle(job, runState.delayTarget);
            DWORD written = 0;
            SetLastError(ERROR_SUCCESS);
            if (!WriteFile(job.to, buffer, read, &written, nullptr) || written < read) {
                return {CopyFailure::Kind::Writing, GetLastError()};
            }
            count += read;
        }
        if (count == 0) break;
        job.copiedTotal += count;
        countMoved(job, count);
        if (count < wanted || job.copiedTotal == size) break;
    }
    if (!holes.finish(job.copiedTotal)) return {CopyFailure::Kind::Writing, GetLastError()};
    return {};
}

// Closes both files, the written one with the source's times. The close can
// be the first to say that written data did not arrive; a source that
// changed meanwhile waits for the retry.
CopyFailure closeAndCheck(CopyJob& job) {
    restoreAccessTime(job.from, job.info);
    SetFileTime(job.to, &job.info.ftCreationTime, &job.info.ftLastAccessTime,
                &job.info.ftLastWriteTime);
    BY_HANDLE_FILE_INFORMATION after;
    describeOpenSource(job, after);
    // The owner comes first: a set-user-ID bit given before it would make the
    // copy, for a moment, a set-user-ID file of the wrong owner.
    platform::copyOwnerOfOpen(job.from, job.to);
    // After the owner, whose change would clear a capability, and before the
    // copy is closed and takes its name, so that it never stands there
    // without its ACL.
    if (!isBeside(job)) {
        carryExtendedAttributes(job.from, job.to, job.source, job.target);
    } else if (!carryExtendedAttributesUntold(job.from, job.to)) {
        return {CopyFailure::Kind::Declined, 0};
    }
    // After the ACL, whose mask the group bits set.
    job.permissionsGiven = platform::givePermissionsOfOpen(job.to, job.info.dwFileAttributes);
    closeSource(job);
    const bool closed = CloseHandle(job.to) != FALSE;
    const DWORD code = GetLastError();
    job.to = INVALID_HANDLE_VALUE;
    if (!closed) return {CopyFailure::Kind::Writing, code};
    // A read that came back short before the size the source still has is
    // no end of file: the copy is incomplete, whatever the read said.
    if (!sameVersion(job.info, after) || job.copiedTotal < fileSize(job.info)) {
        return {CopyFailure::Kind::SourceChanged, ERROR_SHARING_VIOLATION};
    }
    return {};
}

// The complete new copy takes the old one's place. A read-only old copy is
// made writable first where the system refuses to replace it otherwise.
CopyFailure replaceOldCopy(const CopyJob& job) {
    const char* written = job.written.c_str();
    if (MoveFileExA(written, job.target, MOVEFILE_REPLACE_EXISTING)) return {};
    if (GetLastError() == ERROR_ACCESS_DENIED &&
        SetFileAttributesA(job.target, FILE_ATTRIBUTE_NORMAL) &&
        MoveFileExA(written, job.target, MOVEFILE_REPLACE_EXISTING))
        return {};
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION) return {CopyFailure::Kind::OldCopyInUse, code};
    return {CopyFailure::Kind::Replacing, code};
}

// A verify run copies the files it found busy; those were not verified, and
// the log and the exit status say so.
void noteCopiedNotVerified(const char* source, const char* target) {
    ++runState.copiedNotVerified;
    writeLog(": KAZ - Copied, not verified\r\n");
    writeLog(": ");
    writeLogPair(source, target);
    writeLog("\r\n");
}

// The copy has its owner already; its attributes follow, where the open
// file could not take them, and then it takes the target's name.
CopyFailure putInPlace(CopyJob& job) {
    if (!job.permissionsGiven && job.info.dwFileAttributes != createAttributes(job)) {
        const auto names = nameCallsOf(job);
        SetFileAttributesA(job.written.c_str(), job.info.dwFileAttributes);
    }
    if (job.replacing) {
        if (CopyFailure failure = replaceOldCopy(job)) return failure;
        ++runState.totalFilesDeleted;
    }
    job.placed = true;
    return {};
}

// The written copy, closed and in place; the bytes are counted as they go.
CopyFailure writeCopy(CopyJob& job) {
    if (CopyFailure failure = transferContents(job)) return failure;
    if (CopyFailure failure = closeAndCheck(job)) return failure;
    return putInPlace(job);
}

void reportFailure(const CopyJob& job, const CopyFailure& failure) {
    switch (failure.kind) {
        case CopyFailure::Kind::None:
            break;
        case CopyFailure::Kind::Cancel:
            fatalMessage(1, "Program terminated due to Cancel");
            break;
        case CopyFailure::Kind::Reading:
            reportCopyFailure("Error reading file", failure.code, 0, job.source, job.target);
            break;
        case CopyFailure::Kind::Writing:
            reportWriteFailure(job.source, job.target, failure.code);
            break;
        case CopyFailure::Kind::SourceChanged:
            leaveForRetry(job);
            break;
        case CopyFailure::Kind::OldCopyInUse:
            reportOldCopyInUse(job);
            break;
        case CopyFailure::Kind::Replacing:
            reportCopyFailure("Unable to replace old file", failure.code, 0, job.source,
                              job.target);
            break;
        case CopyFailure::Kind::Unequal:
            reportUnequalCopy(job);
            break;
        case CopyFailure::Kind::Declined:
            break;
    }
}

// Opens the source and creates what the copy writes to; false after a
// failure was dealt with, when nothing was counted yet.
bool openBoth(CopyJob& job) {
    job.from = openSource(job.source, job.sharedForWriting);
    if (job.from == INVALID_HANDLE_VALUE) {
        handleSourceOpenFailure(job.source, job.target);
        return false;
    }
    describeSource(job.from, job.source, job.info);
    if (!createTarget(job)) {
        closeSource(job);
        return false;
    }
    return true;
}

// The counters this copy adds are kept or put back here only.
void copyForReal(const char* source, const char* target) {
    waitFor(runState.delayOpen);
    CopyJob job;
    job.source = source;
    job.target = target;
    if (!openBoth(job)) return;
    ++runState.filesCreated;
    const SavedCounters before;
    setShownSource(source);
    setShownTarget(target);
    CopyFailure failure = writeCopy(job);
    if (!failure) {
        addStorageEstimates(job.info.nFileSizeHigh, job.info.nFileSizeLow);
        if (!job.sharedForWriting) {
            if (runState.verify) {
                noteCopiedNotVerified(source, target);
            } else {
                writeCopyListLine(source, target);
            }
            countCopiedFile();
            refreshProgress();
            return;
        }
        // The compare counts the file and its bytes itself when they are
        // equal, in place of the copy's own count.
        before.restore();
        failure = compareCopy(job);
        if (!failure) return;
    }
    // Counters and files go back before the report: a log that cannot take
    // it ends the run, whose summary must not count this copy, and must not
    // leave a partial file behind.
    before.restore();
    discardUnplaced(job);
    reportFailure(job, failure);
}

// Beside the walk only the first way of opening the source is tried, and
// only a free target name is taken: anything else is the walk's to meet.
bool openBothBeside(CopyJob& job) {
    job.from = openSourceAs(job.source, GENERIC_READ, runState.noShare ? 0 : FILE_SHARE_READ,
                            kSourceFlags);
    if (job.from == INVALID_HANDLE_VALUE) return false;
    describeOpenSource(job, job.info);
    if (job.info.dwFileAttributes != 0) {
        const auto names = nameCallsOf(job);
        job.to = createNew(job.target, createAttributes(job));
    }
    if (job.to == INVALID_HANDLE_VALUE) {
        closeSource(job);
        return false;
    }
    job.written = job.target;
    return true;
}

}  // namespace

bool copyNewFileBeside(const char* source, const char* target, char* buffer,
                       const std::atomic<bool>& stop, CopiedBeside& copied) {
    CopyJob job;
    job.source = source;
    job.target = target;
    job.buffer = buffer;
    job.stopBeside = &stop;
    if (!openBothBeside(job)) return false;
    if (writeCopy(job)) {
        const auto names = nameCallsOf(job);
        discardUnplaced(job);
        return false;
    }
    copied.bytes = job.copiedTotal;
    copied.sizeHigh = job.info.nFileSizeHigh;
    copied.sizeLow = job.info.nFileSizeLow;
    return true;
}

void reportCopiedBeside(const char* source, const char* target, const CopiedBeside& copied) {
    ++runState.filesCreated;
    setShownSource(source);
    setShownTarget(target);
    countCopiedBytes(copied.bytes);
    addStorageEstimates(copied.sizeHigh, copied.sizeLow);
    writeCopyListLine(source, target);
    countCopiedFile();
    // Cancel is answered where copies are made, never between telling two
    // that are in place already.
    refreshProgressDisplay();
}

// Only the last-access time is put back: writing the last-write time back
// would hide a change made while the file was being read.
void restoreAccessTime(HANDLE file, const BY_HANDLE_FILE_INFORMATION& seenAtOpen) {
    if (!platform::readsKeepAccessTime(file))
        SetFileTime(file, nullptr, &seenAtOpen.ftLastAccessTime, nullptr);
}

std::string replacementNameFor(const char* target, unsigned attempt) {
    static unsigned made = 0;
    std::string name(target);
    size_t cut = name.rfind(platform::kPathSeparator);
    name.erase(cut == std::string::npos ? 0 : cut + 1);
    char tail[16];
    unsigned mixed = (timeGetTime() ^ (++made * 2654435761u)) + attempt * 40503u;
    std::snprintf(tail, sizeof tail, "%08x", mixed);
    return name + kReplacementPrefix + tail;
}

bool isReplacementName(const char* name) {
    return std::strncmp(name, kReplacementPrefix, sizeof kReplacementPrefix - 1) == 0;
}

// Another program that holds the old copy open without sharing it keeps
// it: a restore never pulls a file away from under its user.
bool targetInUse(const char* target) {
    HANDLE old = CreateFileA(target, 0, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | kTargetItself, nullptr);
    if (old != INVALID_HANDLE_VALUE) {
        CloseHandle(old);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

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
