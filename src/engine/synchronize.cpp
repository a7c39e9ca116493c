#include "engine/synchronize.h"

#include <string>
#include <vector>

#include "engine/delete_tree.h"
#include "engine/link_groups.h"
#include "engine/metadata_update.h"
#include "engine/paired_copy.h"
#include "engine/search_pattern.h"
#include "platform/conventions.h"
#include "platform/name_lookup.h"
#include "platform/tree_prefetch.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/wait.h"
#include "transfer/file_copy.h"
#include "transfer/folder_maker.h"

namespace {

constexpr int kSourceCheckLine = 2833;
constexpr int kTargetCheckLine = 2847;
// Marks, in the record of a source folder, that its target folder's time
// differs: the walk gives it the source's time even when it changes nothing.
constexpr DWORD kTargetTimeDiffers = 1;
// Marks, in the record of a source file, that the target has an older file
// of that name, which its copy replaces.
constexpr DWORD kTargetReplaced = 2;

// Source entries of one folder by name: entry indices in an open-addressed
// table, eight bytes an entry; the first entry of a name wins.
class NameIndex {
public:
    NameIndex(int32_t base, int32_t top) {
        size_t size = 16;
        while (size < 2 * static_cast<size_t>(top - base)) size *= 2;
        slots_.assign(size, kEmpty);
        for (int32_t i = base; i < top; ++i) {
            const char* name = entryName(i);
            size_t slot = firstSlot(name);
            while (slots_[slot] != kEmpty && !platform::sameName(entryName(slots_[slot]), name))
                slot = (slot + 1) & (slots_.size() - 1);
            if (slots_[slot] == kEmpty) slots_[slot] = i;
        }
    }

    // The entry of that name, or -1.
    int32_t find(const char* name) const {
        for (size_t slot = firstSlot(name);; slot = (slot + 1) & (slots_.size() - 1)) {
            int32_t index = slots_[slot];
            if (index == kEmpty || platform::sameName(entryName(index), name)) return index;
        }
    }

private:
    static constexpr int32_t kEmpty = -1;
    size_t firstSlot(const char* name) const {
        return platform::nameHash(name) & (slots_.size() - 1);
    }
    std::vector<int32_t> slots_;
};

// Whether the folder the walk started from can no longer be listed: a run
// whose source went away stops rather than report every folder left.
bool sourceRootGone() {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(runState.sourceRootPattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindClose(find);
    return false;
}

// Stores the source folder's entries from top upward; returns false when the
// folder could not be listed to its end, so that its target is left alone:
// a folder that vanished, became a link or cannot be read is not empty, and
// its target copy must survive. Only the root stops the run.
bool listSource(SearchPattern& source, const char* targetPattern, int32_t& top,
                FolderLinks& links) {
    const bool root = top == 0;
    if (root) runState.sourceRootPattern = source.pattern();
    waitFor(runState.delayOpen);
    WIN32_FIND_DATAA entry;
    HANDLE find = listFolder(source, entry);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (root || sourceRootGone()) {
            writeDebugTrace(16);
            // Kept as written, misspelling included: logs and messages are read by
            // people's scripts.
            fatalWithCode("MOXEL - Error in source path (", runState.sourceRootPattern.c_str(),
                          code);
        }
        reportError("Error listing source folder", code, 0, source.pattern(), targetPattern);
        return false;
    }
    DWORD code = storeSourceListing(find, entry, source, top, &links);
    if (code == ERROR_NO_MORE_FILES) return true;
    // A listing cut short would make the rest look deleted in the source.
    reportError("Error listing source folder", code, 0, source.pattern(), targetPattern);
    return false;
}

bool sameWriteTime(const SourceEntry& source, const WIN32_FIND_DATAA& target) {
    return source.lastWriteTime.dwLowDateTime == target.ftLastWriteTime.dwLowDateTime &&
           source.lastWriteTime.dwHighDateTime == target.ftLastWriteTime.dwHighDateTime;
}

bool upToDate(const SourceEntry& source, const WIN32_FIND_DATAA& target) {
    const DWORD kind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return (source.attributes & kind) == (target.dwFileAttributes & kind) &&
           sameWriteTime(source, target) && source.sizeHigh == target.nFileSizeHigh &&
           source.sizeLow == target.nFileSizeLow;
}

// What a killed run left half-written goes without a word: it was never a
// user's file.
void removeLeftover(const char* path) {
    if (!runState.trialRun) DeleteFileA(path);
}

// Decides about one target entry: keep it, count it as up to date, or remove
// it. A changed file stays until its new copy is complete and takes its
// place, so that a copy that fails leaves the last good one.
void compareTargetEntry(const WIN32_FIND_DATAA& target, const NameIndex& sources,
                        SearchPattern& sourcePath, SearchPattern& targetPath,
                        const FolderLinks& links) {
    int32_t found = sources.find(target.cFileName);
    if (found >= 0) {
        SourceEntry& source = entryAt(found);
        if (isFolder(source) && isFolder(target)) {
            if (!sameWriteTime(source, target)) source.marks |= kTargetTimeDiffers;
            return;
        }
        if (!isFolder(source) && !isFolder(target)) {
            if (!upToDate(source, target) ||
                !linkedAsSource(links.find(source.nameOffset), targetPath, target)) {
                source.marks |= kTargetReplaced;
                return;
            }
            ++runState.virtualFilesProcessed;
            addBytes(runState.virtualBytesCopied, source.sizeHigh, source.sizeLow);
            source.marks |= kEntryDone;
            updateMetadata(source, target, sourcePath.withName(entryName(found)),
                           targetPath.withName(target.cFileName));
            return;
        }
    } else if (!isFolder(target) && isReplacementName(target.cFileName)) {
        removeLeftover(targetPath.withName(target.cFileName));
        return;
    }
    // Where the limit keeps an entry the source has as the other kind, the
    // source entry has no room: it is neither copied nor walked.
    if (removeTargetEntry(targetPath.withName(target.cFileName), target) == kKeptByLimit &&
        found >= 0)
        entryAt(found).marks |= kEntryDone;
}

// A trial run leaves a target file in place where the source has a folder
// of that name; Windows refuses to list below a file with its own codes,
// which must not end the trial as if the target path were bad.
bool trialKeptFileForFolder(SearchPattern& target) {
    if (!runState.trialRun) return false;
    DWORD attributes = GetFileAttributesA(target.folder().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Makes a missing target folder; false, reported, when it cannot be made.
bool makeMissingFolder(SearchPattern& source, SearchPattern& target) {
    if (createFolder(source.prefix(), target.prefix())) return true;
    reportError("Error unable to create destination path", GetLastError(), 0, source.prefix(),
                target.prefix());
    return false;
}

// Removes what the source lacks from the target folder, making the folder
// when it is missing; false when nothing may be copied into it. Below the
// root a folder that cannot be listed (a link took its place, its path grew
// too long, it cannot be read) is reported and left alone.
bool compareTarget(SearchPattern& source, SearchPattern& target, int32_t base, int32_t top,
                   const FolderLinks& links) {
    waitFor(runState.delayOpen);
    WIN32_FIND_DATAA entry;
    HANDLE find = listFolder(target, entry);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return true;
        if (code == ERROR_PATH_NOT_FOUND || trialKeptFileForFolder(target))
            return makeMissingFolder(source, target);
        if (base == 0) {
            writeDebugTrace(17);
            fatalWithCode("Error in destination path (", target.pattern(), code);
        }
        reportError("Error listing target folder", code, 0, source.prefix(), target.prefix());
        return false;
    }
    NameIndex sources(base, top);
    do {
        if (isListingEntry(entry) && !isRunLog(target.prefix(), entry.cFileName))
            compareTargetEntry(entry, sources, source, target, links);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return true;
}

// Names the files the copy below will read, so that their reads can start
// together.
void announceCopies(SearchPattern& source, int32_t base, int32_t top) {
    if (runState.trialRun) return;
    std::vector<const char*> names;
    for (int32_t i = base; i < top; ++i) {
        const SourceEntry& entry = entryAt(i);
        if (!(entry.marks & kEntryDone) && !isFolder(entry)) names.push_back(entryName(i));
    }
    platform::expectReads(source.prefix(), names);
}

// Copies what the target lacks and gathers this level's folders at the
// front of the list; returns the end of the folders. The names stay where
// they are while the records move.
int32_t copyMissingFiles(SearchPattern& source, SearchPattern& target, int32_t base,
                         int32_t top, const FolderLinks& links) {
    announceCopies(source, base, top);
    std::vector<FileToCopy> files;
    const int32_t folderEnd =
        visitFilesGatherFolders(base, top, [&](const char* name, const SourceEntry& entry) {
            const auto nameOffset = static_cast<uint32_t>(name - runState.entryNames);
            files.push_back({name, entrySize(entry), links.find(nameOffset),
                             (entry.marks & kTargetReplaced) != 0});
        });
    copyFolderFiles(source, target, files);
    return folderEnd;
}

// Entries made inside a folder changed its time: give it the source's again.
// Entries made or removed inside a folder changed its time: it gets the
// source's again. Below the root a link that took the folder's place gets
// the time itself; the root is the folder the user named, link or not.
void setFolderTime(const char* targetFolder, const FILETIME& lastWrite, bool root) {
    const DWORD linkItself = root ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE folder = CreateFileA(targetFolder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | linkItself,
                                nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    SetFileTime(folder, nullptr, nullptr, &lastWrite);
    CloseHandle(folder);
}

// The root's source time is looked up; below it the parent's listing has it.
void carryRootTime(SearchPattern& source, SearchPattern& target) {
    std::string sourceFolder = source.folder(), targetFolder = target.folder();
    if (sourceFolder.empty() || targetFolder.empty()) return;
    WIN32_FIND_DATAA info;
    if (!platform::lookUpName(sourceFolder.c_str(), &info)) return;
    setFolderTime(targetFolder.c_str(), info.ftLastWriteTime, true);
}

// Counts every change the walk makes in the target, so that a folder whose
// walk changed nothing, and whose time was right, costs no calls of its own.
uint64_t targetChanges() {
    return uint64_t{runState.filesCreated} + runState.filesDeleted + runState.foldersCreated +
           runState.foldersDeleted + static_cast<uint32_t>(runState.totalFilesDeleted);
}

void synchronizeSubfolder(SearchPattern& source, SearchPattern& target, int32_t index,
                          int32_t folderEnd) {
    const uint64_t changesBefore = targetChanges();
    std::string childSource = source.childPattern(entryName(index));
    std::string childTarget = target.childPattern(entryName(index));
    synchronizeFolder(childSource.c_str(), childTarget.c_str(), folderEnd);
    // Read again: the deeper levels may have moved the table and its names.
    const SourceEntry& folder = entryAt(index);
    if (runState.trialRun) return;
    if (targetChanges() != changesBefore || (folder.marks & kTargetTimeDiffers))
        setFolderTime(target.withName(entryName(index)), folder.lastWriteTime, false);
}

}  // namespace

int synchronizeFolder(const char* sourcePattern, const char* targetPattern, int32_t baseIndex) {
    showPatterns(sourcePattern, "");
    SearchPattern source(sourcePattern, kSourceCheckLine);
    SearchPattern target(targetPattern, kTargetCheckLine);
    int32_t top = baseIndex;
    if (baseIndex == 0) forgetLinkGroups();
    FolderLinks links;
    if (!listSource(source, targetPattern, top, links)) return 0;
    refreshProgress();
    showPatterns("", targetPattern);
    if (!compareTarget(source, target, baseIndex, top, links)) return 0;
    showPatterns(sourcePattern, targetPattern);
    int32_t folderEnd = copyMissingFiles(source, target, baseIndex, top, links);
    showPatterns(sourcePattern, targetPattern);
    for (int32_t i = baseIndex; i < folderEnd; ++i) synchronizeSubfolder(source, target, i, folderEnd);
    showPatterns(sourcePattern, targetPattern);
    // The walk starts at the bottom of the entry table; deeper levels above it.
    if (baseIndex == 0 && !runState.trialRun) carryRootTime(source, target);
    if (baseIndex == 0) forgetLinkGroups();
    return 0;
}
