// Reading shortcuts to folders (symbolic links on POSIX).
#pragma once

#include <string>

namespace platform {

// When `path` is a shortcut to a folder (on POSIX a symbolic link whose
// target is a folder), sets `folder` to that folder as an absolute local
// path, without a separator at the end unless it is the root, and returns
// true. Anything else (a plain file or folder, a link to a file, a dangling
// link) gives false.
bool readFolderShortcut(const char* path, std::string& folder);

}  // namespace platform
