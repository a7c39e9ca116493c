#include "engine/search_pattern.h"

#include <algorithm>
#include <cstring>

#include "engine/exclude_filters.h"
#include "engine/link_groups.h"
#include "platform/anchors.h"
#include "platform/conventions.h"
#include "platform/entry_details.h"
#include "platform/extended_attributes.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/failure_stops.h"
#include "support/heap.h"

namespace {
constexpr DWORD kVolumeLabel = 0x8;
constexpr int32_t kRoomForNames = 100;
constexpr int32_t kFirstEntryCount = 500;
constexpr int32_t kEntryGrowth = 250;
constexpr int kEntryCheckLine = 2800;

// Room for one more name of `length` characters in the name store.
void reserveName(size_t length) {
    size_t needed = runState.entryNamesUsed + length + 1;
    if (needed <= runState.entryNamesCapacity) return;
    size_t capacity = std::max(needed, size_t{runState.entryNamesCapacity} * 3 / 2 + 4096);
    auto* names = static_cast<char*>(heapReallocate(runState.entryNames, capacity));
    if (names == nullptr) outOfMemory(static_cast<int32_t>(capacity));
    runState.entryNames = names;
    runState.entryNamesCapacity = static_cast<uint32_t>(capacity);
}

void storeStatus(SourceEntry& entry, const WIN32_FIND_DATAA& found) {
    const platform::EntryDetails details = platform::detailsOf(found);
    entry.mode = details.mode;
    entry.owner = details.owner;
    entry.group = details.group;
    const uint64_t changed = platform::statusChangeTimeOf(found);
    entry.statusChangeLow = static_cast<uint32_t>(changed);
    entry.statusChangeHigh = static_cast<uint32_t>(changed >> 32);
}

// The first entry of a folder's level takes its name right after the last
// name below it: the folders kept on the way down, whose names come last.
void storeEntry(int32_t index, const WIN32_FIND_DATAA& found, int32_t levelStart) {
    ensureEntry(index);
    if (index == 0) {
        runState.entryNamesUsed = 0;
    } else if (index == levelStart) {
        const char* below = entryName(index - 1);
        runState.entryNamesUsed =
            static_cast<uint32_t>(below - runState.entryNames + std::strlen(below) + 1);
    }
    size_t length = std::strlen(found.cFileName);
    reserveName(length);
    SourceEntry& entry = entryAt(index);
    entry.attributes = found.dwFileAttributes;
    entry.marks = 0;
    entry.lastWriteTime = found.ftLastWriteTime;
    entry.sizeHigh = found.nFileSizeHigh;
    entry.sizeLow = found.nFileSizeLow;
    entry.nameOffset = runState.entryNamesUsed;
    storeStatus(entry, found);
    std::memcpy(runState.entryNames + entry.nameOffset, found.cFileName, length + 1);
    runState.entryNamesUsed += static_cast<uint32_t>(length + 1);
}

}  // namespace

SearchPattern::SearchPattern(const char* pattern, int checkLine) : text_(pattern, kRoomForNames) {
    // The walk's own "*.*" is the last one: a folder may hold it in its name.
    const char* stars = nullptr;
    for (const char* found = std::strstr(text_.data, "*.*"); found != nullptr;
         found = std::strstr(found + 1, "*.*"))
        stars = found;
    if (stars == nullptr) assertionFailed(kMainSourceFile, checkLine);
    cut_ = static_cast<uint32_t>(stars - text_.data);
}

const char* SearchPattern::cutAndAppend(const char* tail) {
    text_.data[cut_] = '\0';
    return text_.append(tail);
}

const char* SearchPattern::pattern() { return cutAndAppend("*.*"); }
const char* SearchPattern::prefix() { return cutAndAppend(""); }
const char* SearchPattern::withName(const char* name) { return cutAndAppend(name); }

std::string SearchPattern::childPattern(const char* name) {
    std::string child = prefix();
    child += name;
    child += platform::kPathSeparator;
    child += "*.*";
    return child;
}

std::string SearchPattern::folder() {
    std::string path = prefix();
    if (!path.empty() && path.back() == platform::kPathSeparator) path.pop_back();
    return path;
}

bool isListingEntry(const WIN32_FIND_DATAA& entry) {
    const char* name = entry.cFileName;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    return (entry.dwFileAttributes & kVolumeLabel) == 0;
}

SourceEntry& entryAt(int32_t index) { return runState.entryTable[index]; }

char* entryName(int32_t index) { return runState.entryNames + entryAt(index).nameOffset; }

void showPatterns(const char* sourcePattern, const char* targetPattern) {
    setShownSource(sourcePattern);
    setShownTarget(targetPattern);
    refreshProgress();
}

HANDLE listFolder(SearchPattern& folder, WIN32_FIND_DATAA& entry) {
    if (!platform::mayEnterFolder(folder.folder().c_str())) return INVALID_HANDLE_VALUE;
    return FindFirstFileA(folder.pattern(), &entry);
}

DWORD storeSourceListing(HANDLE find, WIN32_FIND_DATAA& entry, SearchPattern& source,
                         int32_t& top, FolderLinks* links) {
    const int32_t base = top;
    do {
        if (isListingEntry(entry) && !isRunLog(source.prefix(), entry.cFileName) &&
            !isExcluded(source.prefix(), entry)) {
            if (!isFolder(entry)) ++runState.totalFilesConsidered;
            storeEntry(top, entry, base);
            if (links != nullptr) links->note(entryAt(top).nameOffset, entry);
            ++top;
        }
    } while (FindNextFileA(find, &entry));
    DWORD code = GetLastError();
    FindClose(find);
    return code;
}

void createEntryTable() {
    // Growing by half the size once that is more than a step keeps a folder
    // of a hundred thousand entries from being copied over and over.
    int32_t growth = std::max(kEntryGrowth, runState.entryCapacity / 2);
    int32_t capacity = runState.entryCapacity == 0 ? kFirstEntryCount
                                                   : runState.entryCapacity + growth;
    size_t size = static_cast<size_t>(capacity) * sizeof(SourceEntry);
    // Growing in place (a large block is remapped, not copied) keeps the old
    // and the new table from being held at once, which would set the peak
    // memory of a large folder.
    auto* table = static_cast<SourceEntry*>(heapReallocate(runState.entryTable, size));
    if (table == nullptr) outOfMemory(static_cast<int32_t>(size));
    runState.entryTable = table;
    runState.entryCapacity = capacity;
}

void ensureEntry(int32_t index) {
    if (index > runState.entryCapacity) assertionFailed(kMainSourceFile, kEntryCheckLine);
    if (index == runState.entryCapacity) createEntryTable();
}
