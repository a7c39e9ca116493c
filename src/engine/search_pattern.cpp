#include "engine/search_pattern.h"

#include <cstring>

#include "platform/anchors.h"
#include "platform/platform.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "run/exclude_filters.h"
#include "run/run_entry.h"
#include "support/failure_stops.h"

namespace {
constexpr DWORD kVolumeLabel = 0x8;
constexpr int32_t kRoomForNames = 100;
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

WIN32_FIND_DATAA& entryAt(int32_t index) { return runState.entryTable[index]; }

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
                         int32_t& top) {
    do {
        if (isListingEntry(entry) && !isRunLog(source.prefix(), entry.cFileName) &&
            !isExcluded(source.prefix(), entry)) {
            if (!isFolder(entry)) ++runState.totalFilesConsidered;
            ensureEntry(top);
            entryAt(top) = entry;
            // The walk's own marks; the system's value of this field means nothing here.
            entryAt(top++).dwReserved1 = 0;
        }
    } while (FindNextFileA(find, &entry));
    DWORD code = GetLastError();
    FindClose(find);
    return code;
}
