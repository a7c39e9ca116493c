// The real path of a path, with its links resolved.
#pragma once

#include <string>

namespace platform {

// The real path of `path` with every link, "." and ".." resolved; a path
// whose last parts do not exist yet keeps them, appended to the real path of
// the longest part that exists. False when nothing of it can be resolved.
bool resolvePath(const char* path, std::string& resolved);

}  // namespace platform
