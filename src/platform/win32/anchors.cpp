// Windows has no call that opens a path below a folder handle while refusing
// junctions and links on the way (not on the versions this build supports),
// so an anchor holds no open folder here; it only remembers the folder as the
// user named it, which may itself be a junction or link. What is closed
// instead: each folder below an anchor is checked before it is listed or
// removed, and targets are opened with FILE_FLAG_OPEN_REPARSE_POINT. A folder
// swapped for a junction between that check and the calls below it is not
// caught.
#include "platform/anchors.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/conventions.h"
#include "platform/windows_api.h"

namespace platform {

namespace {

struct Anchor {
    int id;
    std::string folder;
    // A folder anchored below another is reached through that one, and a
    // link in its place is refused like any other below it.
    bool asNamed;
};

// Never destroyed: a worker that unwinds while the process exits still
// releases its anchors.
std::mutex& anchorsLock = *new std::mutex;
std::vector<Anchor>& anchors = *new std::vector<Anchor>;
int lastId = 0;

bool isSeparator(char c) { return c == kPathSeparator || c == '/'; }

// "C:\data\", "C:\data" and "C:\data\\" name one folder.
std::string withoutFinalSeparators(const char* folder) {
    std::string text(folder);
    while (!text.empty() && isSeparator(text.back())) text.pop_back();
    return text;
}

// Whether `folder` lies below `above` (both without final separators).
bool liesBelow(const std::string& folder, const std::string& above) {
    return !above.empty() && folder.size() > above.size() && isSeparator(folder[above.size()]) &&
           sameNamePrefix(folder.c_str(), above.c_str(), above.size());
}

// Whether `folder` is a root the user named; the caller holds the lock.
bool isNamedRoot(const std::string& folder) {
    for (const Anchor& anchor : anchors) {
        if (anchor.asNamed && sameName(anchor.folder.c_str(), folder.c_str())) return true;
    }
    return false;
}

}  // namespace

int anchorFolder(const char* folder) {
    if (folder == nullptr) return 0;
    std::string text = withoutFinalSeparators(folder);
    std::lock_guard<std::mutex> hold(anchorsLock);
    bool below = false;
    for (const Anchor& anchor : anchors) below = below || liesBelow(text, anchor.folder);
    anchors.push_back(Anchor{++lastId, text, !below});
    return lastId;
}

void releaseAnchor(int id) {
    std::lock_guard<std::mutex> hold(anchorsLock);
    for (auto it = anchors.begin(); it != anchors.end(); ++it) {
        if (it->id == id) {
            anchors.erase(it);
            return;
        }
    }
}

void releaseAllAnchors() {
    std::lock_guard<std::mutex> hold(anchorsLock);
    anchors.clear();
}

BOOL mayEnterFolder(const char* folder) {
    // A run's root is entered as the user named it, link or not.
    std::string text = withoutFinalSeparators(folder);
    {
        std::lock_guard<std::mutex> hold(anchorsLock);
        if (!text.empty() && isNamedRoot(text)) return TRUE;
    }
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return TRUE;  // the listing says why
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return TRUE;
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
}

}  // namespace platform
