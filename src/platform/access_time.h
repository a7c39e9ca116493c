// Whether reading a file moves its last-access time.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// True where reading through the open `file` leaves its last-access time as
// it was (on POSIX: it was opened with O_NOATIME), so that a reader that
// must leave the time alone has nothing to put back.
bool readsKeepAccessTime(HANDLE file);

}  // namespace platform
