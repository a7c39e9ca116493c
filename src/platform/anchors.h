// The folders a run works below. A tree walk anchors its source and target
// folders before it reads or changes anything below them. The anchored folder
// itself may be reached through links, as the user named it; below it no name
// is ever resolved through a link, whoever put it there and whenever: every
// call on a path below an anchor works from the anchored folder one name at a
// time, and a link met where a folder should be fails the call
// (ERROR_BAD_PATHNAME) instead of being followed.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// Anchors `folder` until the returned id is released. A folder that lies
// below an anchor already is reached through that one, without links. A
// folder that does not exist yet is opened when a call first needs it; until
// then the folder's own path is used as given (so that it can be made), and
// paths below it fail as missing.
int anchorFolder(const char* folder);
void releaseAnchor(int id);
// Releases every anchor: the run is over.
void releaseAllAnchors();

// Whether the walk may list the folder `folder`, found as a folder by the
// listing of its parent. Where anchored calls already refuse a link in its
// place this costs nothing; elsewhere it checks that the folder has not
// become a link or junction since, and fails with ERROR_BAD_PATHNAME when it
// has.
BOOL mayEnterFolder(const char* folder);

// Anchors a folder for the life of the object.
class FolderAnchor {
public:
    explicit FolderAnchor(const char* folder) : id_(anchorFolder(folder)) {}
    ~FolderAnchor() { releaseAnchor(id_); }
    FolderAnchor(const FolderAnchor&) = delete;
    FolderAnchor& operator=(const FolderAnchor&) = delete;

private:
    int id_;
};

}  // namespace platform
