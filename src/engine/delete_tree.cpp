#include "engine/delete_tree.h"

#include <cstring>
#include <string>

#include "engine/search_pattern.h"
#include "platform/anchors.h"
#include "platform/conventions.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/text_buffer.h"
#include "support/wait.h"

namespace {

constexpr DWORD kVolumeLabel = 0x8;

bool isMissing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool isDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

BOOL deleteFile(const char* path, const WIN32_FIND_DATAA& entry) {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    }
    return DeleteFileA(path);
}

// A folder being removed that could not be listed to its end stays; the
// thread's last error keeps the reason for the caller.
void reportUnlistedFolder(const char* folder, DWORD code) {
    addException(folder, ": KAZ - Error parsing directory ", code, 0);
    writeLog(": KAZ - Error parsing directory ");
    writeLogPath(folder);
    writeLog("\r\n");
    SetLastError(code);
}

// The delete limit: whether one more entry may go.
bool limitAllows() {
    return runState.limitDelete < 0 ||
           runState.entriesRemoved < static_cast<uint32_t>(runState.limitDelete);
}

// An entry the delete limit keeps: counted, and the first one tells the log
// why the removals stop.
void keepByLimit() {
    if (runState.entriesKeptByLimit++ > 0) return;
    writeLog(": KAZ - Delete limit of ");
    writeLogNumber(runState.limitDelete);
    writeLog(" reached, nothing more is removed\r\n");
}

void countRemovedFile() {
    ++runState.filesDeleted;
    ++runState.totalFilesDeleted;
    ++runState.entriesRemoved;
}

enum class Outcome { Removed, Kept, Failed };

// One entry of a folder being removed; Failed when the rest of the folder
// must be left alone.
Outcome removeTreeEntry(const char* path, const WIN32_FIND_DATAA& entry) {
    if (isFolder(entry)) {
        int result = deleteTree(path);
        if (result == kKeptByLimit) return Outcome::Kept;
        if (result == 1) {
            writeLog(": DEL ");
            writeLogName(path);
            writeLog("\r\n");
            return Outcome::Removed;
        }
        DWORD code = GetLastError();
        addException(path, ": Error removing directory ", code, 0);
        writeLog(": Error removing directory ");
        writeLogPath(path);
        writeLog("\r\n");
        SetLastError(code);
        return Outcome::Failed;
    }
    setShownTarget(path);
    if (!limitAllows()) {
        keepByLimit();
        return Outcome::Kept;
    }
    if (runState.trialRun) {
        writeLog("DEL ");
        writeLogPath(path);
        writeLog("\r\n");
    } else if (!deleteFile(path, entry)) {
        DWORD code = GetLastError();
        addException(path, ": KAZ - Error removing file ", code, 0);
        writeLog(": KAZ - Error removing file ");
        writeLogPath(path);
        writeLog(" \r\n");
        SetLastError(code);
        return Outcome::Failed;
    }
    countRemovedFile();
    writeLog(": DEL ");
    writeLogName(path);
    writeLog("\r\n");
    return Outcome::Removed;
}

// Removes everything the listing holds, or what the delete limit lets go;
// the thread's last error tells how the listing ended. Sets `kept` when the
// limit kept an entry.
void removeListedEntries(HANDLE find, WIN32_FIND_DATAA& entry, TextBuffer& path,
                         uint32_t prefixLength, bool& kept) {
    do {
        if (checkCancel()) fatalMessage(1, "Program terminated due to Cancel");
        if (isDotEntry(entry.cFileName)) continue;
        if (entry.dwFileAttributes & kVolumeLabel) {
            writeLog(": Volume Label");
            writeLogPath(entry.cFileName);
            writeLog("\r\n");
            continue;
        }
        path.data[prefixLength] = '\0';
        // The run's own log stays, and with it the folders that hold it.
        if (isRunLog(path.text(), entry.cFileName)) continue;
        path.append(entry.cFileName);
        Outcome outcome = removeTreeEntry(path.text(), entry);
        if (outcome == Outcome::Failed) return;
        if (outcome == Outcome::Kept) kept = true;
    } while (FindNextFileA(find, &entry));
}

int removeFile(const char* path, const WIN32_FIND_DATAA& entry) {
    if (!limitAllows()) {
        keepByLimit();
        return kKeptByLimit;
    }
    if (runState.trialRun) {
        writeLog("DEL ");
        writeLogName(path);
        writeLog("\r\n");
        ++runState.entriesRemoved;
        return 1;
    }
    if (deleteFile(path, entry)) {
        countRemovedFile();
        return 1;
    }
    DWORD code = GetLastError();
    addException(path, ": Error removing file ", code, 0);
    writeLog(": Error removing file ");
    writeLogName(path);
    writeLog(", continuing...\r\n");
    return 0;
}

}  // namespace

int removeTargetEntry(const char* path, const WIN32_FIND_DATAA& entry) {
    int result = isFolder(entry) ? deleteTree(path) : removeFile(path, entry);
    if (result == kKeptByLimit) {
        writeLog(": Kept by the delete limit: ");
        writeLogName(path);
        writeLog("\r\n");
    }
    return result;
}

std::string deleteLimitReport() {
    if (runState.entriesKeptByLimit == 0) return "";
    std::string text = "Delete limit of " + std::to_string(runState.limitDelete) + " reached: " +
                       std::to_string(runState.entriesKeptByLimit) + " entries ";
    return text + (runState.trialRun ? "would not be removed" : "not removed");
}

int deleteTree(const char* folder) {
    const char separator[2] = {platform::kPathSeparator, '\0'};
    TextBuffer path(folder, 100);
    path.append(separator);
    uint32_t prefixLength = path.length();
    path.append("*.*");
    waitFor(runState.delayOpen);
    WIN32_FIND_DATAA entry;
    HANDLE find = platform::mayEnterFolder(folder) ? FindFirstFileA(path.text(), &entry)
                                                   : INVALID_HANDLE_VALUE;
    if (find == INVALID_HANDLE_VALUE && !isMissing(GetLastError())) {
        // A link that took the folder's place is neither entered nor removed.
        reportUnlistedFolder(folder, GetLastError());
        return 0;
    }
    if (find == INVALID_HANDLE_VALUE) {
        // Kept as written, misspelling included: logs and messages are read by
        // people's scripts.
        addException(folder, ": Directory dissappeared, nothing to copy", 0, 0);
        writeLog(": Directory ");
        writeLogPath(folder);
        writeLog("dissappeared, nothing to copy\r\n");
        return 1;
    }
    bool kept = false;
    removeListedEntries(find, entry, path, prefixLength, kept);
    DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES) {
        SetLastError(code);
        writeDebugTrace(15);
        reportUnlistedFolder(folder, code);
        return 0;
    }
    // A folder still holding what the limit kept stays, as does one the limit
    // reached just now.
    if (kept || !limitAllows()) {
        keepByLimit();
        return kKeptByLimit;
    }
    setShownTarget(folder);
    if (runState.trialRun) {
        writeLog("RMDIR ");
        writeLogPath(folder);
        writeLog("\r\n");
    } else if (!RemoveDirectoryA(folder)) {
        code = GetLastError();
        addException(folder, ": KAZ - Error deleting directory ", code, 0);
        writeLog(": KAZ - Error deleting directory ");
        writeLogPath(folder);
        writeLog("\r\n");
        return 0;
    }
    writeLog(": RMDIR ");
    writeLogName(folder);
    writeLog("\r\n");
    ++runState.foldersDeleted;
    ++runState.totalDirectoriesDeleted;
    ++runState.entriesRemoved;
    return 1;
}
