// Changing permission bits without ever following a final symbolic link.
#pragma once

#include <sys/types.h>

namespace posix {

// Sets the permission bits of `name` in the open folder `folder` (AT_FDCWD:
// `name` is a path) to `mode`. A symbolic link is left as it is and counts
// as success (links have no permissions of their own). Returns false with
// errno set on failure.
bool setModeNoFollow(int folder, const char* name, mode_t mode);

}  // namespace posix
