// How the backend's calls find the entry a path names without following a
// link below an anchored folder (platform/anchors.h): the folder that holds
// the last name is opened from the anchor, and the call works on that name
// with the *at form of its system call.
#pragma once

#include <fcntl.h>

#include <memory>
#include <string>

#include "platform/windows_api.h"

namespace posix {

// An open folder, shared by the anchors and the calls that work in it.
struct OpenFolder {
    explicit OpenFolder(int descriptor) : fd(descriptor) {}
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    const int fd;
};
using FolderRef = std::shared_ptr<const OpenFolder>;

// Where a call finds the entry a path names: an open folder and a name in it
// ("." for the anchored folder itself). A path below no anchor is left to the
// kernel as given: the folder is AT_FDCWD and the name the whole path.
struct NameAt {
    FolderRef holder;  // keeps `folder` open; null when not anchored
    int folder = AT_FDCWD;
    std::string name;
    // Set when the look-up failed on the way to the last name because a
    // folder is missing (or is no folder), which Windows calls "path not
    // found".
    bool folderMissing = false;

    bool anchored() const { return holder != nullptr; }
    const char* c_name() const { return name.c_str(); }
};

// `path` without separators at its end ("/" stays the root).
std::string withoutEndSeparators(const char* path);

// Finds the folder that holds the last name of `path`. False with errno set
// when it cannot be reached: ELOOP for a link on the way.
bool locate(const char* path, NameAt& at);

// Finds `path` as locate does, for a call that has found `nearPath` in
// `near` already: when both lie in the same folder below the same anchor,
// that folder serves for both names, looked up once for the call.
bool locateBeside(const NameAt& near, const char* nearPath, const char* path, NameAt& at);

struct FileStatus;
// Finds the entry `path` names as locate does and looks at it, never
// following it; false with errno set.
bool locateStatus(const char* path, NameAt& at, FileStatus& status);

// The Windows error for a call through `at` that failed with `err`: a
// missing name in a folder that was reached is "file not found", a failed
// look-up on the way "path not found". Sets it as the last error; FALSE.
BOOL failAt(const NameAt& at, int err, const char* path);

// Opens the folder that `path` names for reading its entries; below an
// anchor, without following any link, the last name included (ELOOP). -1 with
// errno set on failure.
int openFolderToList(const char* path);

// Opens `name` in `folder` as a folder, never following a link: a link in its
// place fails with ELOOP (the kernel says ENOTDIR).
int openFolderNoFollow(int folder, const char* name, int flags);

// Tests: resolves one name at a time, as on kernels without openat2, while
// `on`; returns the setting it replaces.
bool resolveNameByName(bool on);

}  // namespace posix
