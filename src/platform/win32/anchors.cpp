// Windows has no call that opens a path below a folder handle while refusing
// junctions and links on the way (not on the versions this build supports),
// so an anchor holds no open folder here; it only remembers the folder as the
// user named it, which may itself be a junction or link. What is closed
// instead: each folder below an anchor is checked before it is listed or
// removed, and targets are opened with FILE_FLAG_OPEN_REPARSE_POINT. A folder
// swapped for a junction between that check and the calls below it is not
// caught.
#include "platform/anchors.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

struct Anchor {
    int id;
    std::string folder;
};

std::mutex anchorsLock;
std::vector<Anchor> anchors;
int lastId = 0;

// "C:\data\", "C:\data" and "C:\data\\" name one folder.
std::string withoutFinalSeparators(const char* folder) {
    std::string text(folder);
    while (!text.empty() && (text.back() == kPathSeparator || text.back() == '/')) text.pop_back();
    return text;
}

bool isAnchored(const char* folder) {
    std::string wanted = withoutFinalSeparators(folder);
    if (wanted.empty()) return false;
    std::lock_guard<std::mutex> hold(anchorsLock);
    for (const Anchor& anchor : anchors) {
        if (sameName(anchor.folder.c_str(), wanted.c_str())) return true;
    }
    return false;
}

}  // namespace

int anchorFolder(const char* folder) {
    if (folder == nullptr) return 0;
    std::lock_guard<std::mutex> hold(anchorsLock);
    anchors.push_back(Anchor{++lastId, withoutFinalSeparators(folder)});
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

BOOL mayEnterFolder(const char* folder) {
    // A run's root is entered as the user named it, link or not.
    if (isAnchored(folder)) return TRUE;
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return TRUE;  // the listing says why
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return TRUE;
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
}

}  // namespace platform
