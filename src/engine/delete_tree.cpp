#include "engine/delete_tree.h"

#include <cstring>

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

// One entry of a folder being removed; false when the rest of the folder
// must be left alone.
bool removeTreeEntry(const char* path, const WIN32_FIND_DATAA& entry) {
    if (isFolder(entry)) {
        if (deleteTree(path) == 1) {
            writeLog(": DEL ");
            writeLogName(path);
            writeLog("\r\n");
            return true;
        }
        DWORD code = GetLastError();
        addException(path, ": Error removing directory ", code, 0);
        writeLog(": Error removing directory ");
        writeLogPath(path);
        writeLog("\r\n");
        SetLastError(code);
        return false;
    }
    setShownTarget(path);
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
        return false;
    }
    ++runState.filesDeleted;
    ++runState.totalFilesDeleted;
    writeLog(": DEL ");
    writeLogName(path);
    writeLog("\r\n");
    return true;
}

// Removes everything the listing holds; the thread's last error tells how
// the listing ended.
void removeListedEntries(HANDLE find, WIN32_FIND_DATAA& entry, TextBuffer& path,
                         uint32_t prefixLength) {
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
        if (!removeTreeEntry(path.text(), entry)) return;
    } while (FindNextFileA(find, &entry));
}

}  // namespace

void removeTargetEntry(const char* path, const WIN32_FIND_DATAA& entry) {
    if (isFolder(entry)) {
        deleteTree(path);
        return;
    }
    if (runState.trialRun) {
        writeLog("DEL ");
        writeLogName(path);
        writeLog("\r\n");
        return;
    }
    if (deleteFile(path, entry)) {
        ++runState.filesDeleted;
        ++runState.totalFilesDeleted;
        return;
    }
    DWORD code = GetLastError();
    addException(path, ": Error removing file ", code, 0);
    writeLog(": Error removing file ");
    writeLogName(path);
    writeLog(", continuing...\r\n");
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
    removeListedEntries(find, entry, path, prefixLength);
    DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES) {
        SetLastError(code);
        writeDebugTrace(15);
        reportUnlistedFolder(folder, code);
        return 0;
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
    return 1;
}
