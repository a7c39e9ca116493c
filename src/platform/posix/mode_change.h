// Changing permission bits without ever following a final symbolic link.
#pragma once

#include <sys/types.h>

namespace posix {

// Sets the permission bits of `path` to `mode`. A symbolic link is left as it
// is and counts as success (links have no permissions of their own). Returns
// false with errno set on failure.
bool setModeNoFollow(const char* path, mode_t mode);

}  // namespace posix
