// Carrying a file's owner and group to its copy.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/owner_copy.h"
#include "platform/posix/anchor.h"
#include "platform/posix/error_map.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/file_status.h"
#include "platform/posix/mode_change.h"
#include "platform/windows_api.h"

namespace platform {

// Changing the owner clears set-user-ID and set-group-ID bits, even for
// root, so a copy made in the other order keeps them: they are put back.
BOOL copyOwner(const char* source, const char* target) {
    if (!carriesOwners()) return TRUE;
    if (source == nullptr || target == nullptr) return posix::failWithCode(ERROR_INVALID_PARAMETER);
    posix::NameAt from, to;
    posix::FileStatus fromStatus, toStatus;
    if (!posix::locateStatus(source, from, fromStatus)) return posix::failAt(from, errno, source);
    if (!posix::locateStatus(target, to, toStatus)) return posix::failAt(to, errno, target);
    if (fromStatus.owner == toStatus.owner && fromStatus.group == toStatus.group) return TRUE;
    if (fchownat(to.folder, to.c_name(), fromStatus.owner, fromStatus.group,
                 AT_SYMLINK_NOFOLLOW) != 0)
        return posix::failAt(to, errno, target);
    const mode_t idBits = S_ISUID | S_ISGID;
    if (S_ISLNK(toStatus.mode) || (toStatus.mode & idBits) == 0) return TRUE;
    if (!posix::setModeNoFollow(to.folder, to.c_name(), toStatus.mode & 07777))
        return posix::failAt(to, errno, target);
    return TRUE;
}

// The copy is still being written when this is called: private to its
// owner, with no set-user-ID or set-group-ID bit yet to lose. A copy that its
// handle created is given the owner without a look at it: which group it got
// depends on its folder, and the change costs no more than the look.
BOOL copyOwnerOfOpen(HANDLE source, HANDLE target) {
    if (!carriesOwners()) return TRUE;
    posix::FileHandle* from = posix::fileHandle(source);
    posix::FileHandle* to = posix::fileHandle(target);
    if (from == nullptr || to == nullptr || to->fd < 0)
        return posix::failWithCode(ERROR_INVALID_HANDLE);
    posix::FileStatus read, written;
    if (!posix::statusOfHandle(*from, read)) return posix::failWithErrno(errno);
    if (!to->created) {
        if (!posix::statusOfHandle(*to, written)) return posix::failWithErrno(errno);
        if (read.owner == written.owner && read.group == written.group) return TRUE;
    }
    to->seenCurrent = false;
    return fchown(to->fd, read.owner, read.group) == 0 ? TRUE : posix::failWithErrno(errno);
}

bool carriesOwners() {
    static const bool root = geteuid() == 0;
    return root;
}

}  // namespace platform
