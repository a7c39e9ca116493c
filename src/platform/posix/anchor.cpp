// Anchored folders and the look-ups below them. Linux resolves a whole
// relative path beneath an open folder without following links in one call
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS); elsewhere the path is
// walked one name at a time with O_NOFOLLOW.
#include "platform/posix/anchor.h"

#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/anchors.h"
#include "platform/posix/error_map.h"
#include "platform/posix/file_status.h"
#include "platform/windows_api.h"

namespace posix {

std::string withoutEndSeparators(const char* path) {
    std::string text(path);
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

OpenFolder::~OpenFolder() {
    if (fd >= 0) close(fd);
}

namespace {

struct Anchor {
    int id;
    std::string text;  // as given, without separators at the end ("/" for the root)
    FolderRef folder;  // null until it could be opened
    int openError = ENOENT;
};

std::mutex anchorsLock;
// Guarded by anchorsLock. Never destroyed: a worker that is still unwinding
// its anchors while the process exits must find them.
std::vector<Anchor>& anchors = *new std::vector<Anchor>;
int nextAnchorId = 1;

// Whether `path` is the anchored folder `text` or lies below it; `rest`
// receives the part below it, without separators at either end.
bool covers(const std::string& text, const std::string& path, std::string& rest) {
    if (path.compare(0, text.size(), text) != 0) return false;
    size_t start = text.size();
    if (text != "/" && start < path.size() && path[start] != '/') return false;
    while (start < path.size() && path[start] == '/') ++start;
    rest = path.substr(start);
    return true;
}

// The anchor that covers `path` most closely, or null.
Anchor* coveringAnchor(const std::string& path, std::string& rest, const Anchor* except) {
    Anchor* best = nullptr;
    std::string bestRest;
    for (Anchor& anchor : anchors) {
        if (&anchor == except || !covers(anchor.text, path, rest)) continue;
        if (best == nullptr || anchor.text.size() > best->text.size()) {
            best = &anchor;
            bestRest = rest;
        }
    }
    rest = bestRest;
    return best;
}

void closeKeepingErrno(int fd) {
    int saved = errno;
    close(fd);
    errno = saved;
}

// Without openat2: one name after the other, each opened without following.
int walkBeneath(int from, const std::string& relative, int flags) {
    int current = from;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        std::string name = relative.substr(start, end - start);
        start = end + 1;
        while (start < relative.size() && relative[start] == '/') ++start;
        if (name.empty() || name == ".") continue;
        int next = -1;
        if (name == "..") {
            errno = EXDEV;  // never climbs out, as RESOLVE_BENEATH refuses it
        } else {
            bool last = start >= relative.size();
            next = openFolderNoFollow(current, name.c_str(), last ? flags : O_PATH);
        }
        if (current != from) closeKeepingErrno(current);
        if (next < 0) return -1;
        current = next;
    }
    return current == from ? openFolderNoFollow(from, ".", flags) : current;
}

std::atomic<bool> openat2Missing{false};

// Opens the folder `relative` names below the open folder `from`, following
// no link on the way or at its end.
int openBeneath(int from, const std::string& relative, int flags) {
    if (!openat2Missing.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags | O_DIRECTORY | O_CLOEXEC);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 3; ++attempt) {
            long fd = syscall(SYS_openat2, from, relative.c_str(), &how, sizeof how);
            if (fd >= 0) return static_cast<int>(fd);
            // A rename elsewhere in the tree makes the kernel ask to try again.
            if (errno != EAGAIN) break;
        }
        // Missing, or refused by a sandbox that does not know the call.
        if (errno != ENOSYS && errno != EPERM && errno != E2BIG) return -1;
        openat2Missing.store(true, std::memory_order_relaxed);
    }
    return walkBeneath(from, relative, flags);
}

// Opens an anchor that is not open yet: through the anchor that covers it,
// or by its path as given. Called with anchorsLock held.
const FolderRef& openAnchor(Anchor& anchor) {
    if (anchor.folder != nullptr) return anchor.folder;
    std::string rest;
    Anchor* outer = coveringAnchor(anchor.text, rest, &anchor);
    int fd = -1;
    if (outer == nullptr) {
        fd = open(anchor.text.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } else if (const FolderRef& outerFolder = openAnchor(*outer); outerFolder != nullptr) {
        fd = openBeneath(outerFolder->fd, rest, O_PATH);
    } else {
        errno = outer->openError;
    }
    if (fd >= 0) {
        anchor.folder = std::make_shared<const OpenFolder>(fd);
    } else {
        anchor.openError = errno;
    }
    return anchor.folder;
}

// What the anchors say about a path.
struct Beneath {
    bool covered = false;  // some anchor covers the path
    FolderRef anchor;      // that anchor's folder; null when it cannot be opened
    int openError = 0;
    std::string rest;      // the path below the anchor
};

Beneath beneathAnchor(const std::string& path) {
    Beneath result;
    std::lock_guard<std::mutex> lock(anchorsLock);
    if (anchors.empty()) return result;
    Anchor* anchor = coveringAnchor(path, result.rest, nullptr);
    if (anchor == nullptr) return result;
    result.covered = true;
    result.anchor = openAnchor(*anchor);
    result.openError = anchor->openError;
    return result;
}

bool isMissingFolderError(int err) {
    return err == ENOENT || err == ENOTDIR;
}

bool failLookup(NameAt& at, int err) {
    at.folderMissing = isMissingFolderError(err);
    errno = err;
    return false;
}

}  // namespace

int openFolderNoFollow(int folder, const char* name, int flags) {
    int fd = openat(folder, name, flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || errno != ENOTDIR) return fd;
    struct stat status;
    if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
        errno = ELOOP;
    else
        errno = ENOTDIR;
    return -1;
}

bool locate(const char* path, NameAt& at) {
    at = NameAt{};
    std::string text = withoutEndSeparators(path);
    Beneath beneath = beneathAnchor(text);
    if (!beneath.covered || (beneath.rest.empty() && beneath.anchor == nullptr)) {
        at.name = path;
        return true;
    }
    if (beneath.anchor == nullptr) return failLookup(at, beneath.openError);
    size_t slash = beneath.rest.rfind('/');
    // A last name ".." would act on the folder above the one looked up,
    // which may be above the anchor; a walk never asks for it.
    if (beneath.rest.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos,
                             "..") == 0)
        return failLookup(at, EXDEV);
    if (beneath.rest.empty() || slash == std::string::npos) {
        at.holder = beneath.anchor;
        at.name = beneath.rest.empty() ? "." : beneath.rest;
        at.folder = at.holder->fd;
        return true;
    }
    // Looked up afresh for every call: a folder kept open from an earlier one
    // could have been moved out of the tree since.
    int fd = openBeneath(beneath.anchor->fd, beneath.rest.substr(0, slash), O_PATH);
    if (fd < 0) return failLookup(at, errno);
    at.holder = std::make_shared<const OpenFolder>(fd);
    at.folder = at.holder->fd;
    at.name = beneath.rest.substr(slash + 1);
    return true;
}

bool locateBeside(const NameAt& near, const char* nearPath, const char* path, NameAt& at) {
    std::string nearText = withoutEndSeparators(nearPath), text = withoutEndSeparators(path);
    Beneath nearBeneath = beneathAnchor(nearText), beneath = beneathAnchor(text);
    size_t slash = beneath.rest.rfind('/');
    // Only a folder below the anchor is looked up: one that is the anchor
    // costs nothing anyway.
    bool sameFolder = near.anchored() && beneath.anchor != nullptr &&
                      beneath.anchor == nearBeneath.anchor && slash != std::string::npos &&
                      nearBeneath.rest.rfind('/') == slash &&
                      nearBeneath.rest.compare(0, slash, beneath.rest, 0, slash) == 0;
    std::string name = beneath.rest.substr(slash == std::string::npos ? 0 : slash + 1);
    if (!sameFolder || name == "..") return locate(path, at);
    at = NameAt{};
    at.holder = near.holder;
    at.folder = near.folder;
    at.name = name;
    return true;
}

bool locateStatus(const char* path, NameAt& at, FileStatus& status) {
    return locate(path, at) && statusInFolder(at.folder, at.c_name(), status);
}

BOOL failAt(const NameAt& at, int err, const char* path) {
    if (at.folderMissing) return failWithCode(ERROR_PATH_NOT_FOUND);
    if (at.anchored()) return failWithCode(windowsError(err));
    return failWithErrno(err, path);
}

int openFolderToList(const char* path) {
    std::string text = withoutEndSeparators(path);
    Beneath beneath = beneathAnchor(text);
    if (!beneath.covered || (beneath.rest.empty() && beneath.anchor == nullptr))
        return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (beneath.anchor == nullptr) {
        errno = beneath.openError;
        return -1;
    }
    if (beneath.rest.empty()) return openFolderNoFollow(beneath.anchor->fd, ".", O_RDONLY);
    return openBeneath(beneath.anchor->fd, beneath.rest, O_RDONLY);
}

bool resolveNameByName(bool on) {
    return openat2Missing.exchange(on);
}

}  // namespace posix

namespace platform {

int anchorFolder(const char* folder) {
    if (folder == nullptr || folder[0] == '\0') return 0;
    std::lock_guard<std::mutex> lock(posix::anchorsLock);
    int id = posix::nextAnchorId++;
    posix::anchors.push_back(posix::Anchor{id, posix::withoutEndSeparators(folder), nullptr});
    posix::openAnchor(posix::anchors.back());
    return id;
}

void releaseAnchor(int id) {
    std::lock_guard<std::mutex> lock(posix::anchorsLock);
    for (auto it = posix::anchors.begin(); it != posix::anchors.end(); ++it) {
        if (it->id != id) continue;
        posix::anchors.erase(it);
        return;
    }
}

void releaseAllAnchors() {
    std::lock_guard<std::mutex> lock(posix::anchorsLock);
    posix::anchors.clear();
}

// Anchored look-ups already refuse a link where a folder was listed.
BOOL mayEnterFolder(const char*) {
    return TRUE;
}

}  // namespace platform
