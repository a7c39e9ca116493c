// Windows share modes, emulated with advisory locks held while a file is open.
#pragma once

#include "platform/windows_api.h"

namespace posix {

enum class ShareLock {
    None,       // others may read and write: no lock taken, refused only by
                // an exclusive holder (which on Windows denies every open)
    Shared,     // others may read: refused while anyone holds a write lock
    Exclusive,  // others may do nothing: refused while anyone holds any lock
};

ShareLock shareLockFor(DWORD shareMode);

// Takes the lock on `fd` for the whole file, both as a flock lock and as an
// open-file-description record lock, so that programs using either kind, and
// other handles of this very process, see it. Returns 0, EWOULDBLOCK when
// another holder is in the way, or errno of another failure. A file system
// that offers no locks at all is not a conflict: the open goes on unlocked.
int takeShareLock(int fd, ShareLock lock, bool readable, bool writable);

}  // namespace posix
