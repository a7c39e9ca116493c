// Carrying a file's owner and group to its copy.
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/error_map.h"
#include "platform/posix/mode_change.h"

namespace platform {

// Changing the owner clears set-user-ID and set-group-ID bits, even for
// root, so a copy made in the other order keeps them: they are put back.
BOOL copyOwner(const char* source, const char* target) {
    static const bool root = geteuid() == 0;
    if (!root) return TRUE;
    if (source == nullptr || target == nullptr) return posix::failWithCode(ERROR_INVALID_PARAMETER);
    struct stat from;
    struct stat to;
    if (lstat(source, &from) != 0) return posix::failWithErrno(errno, source);
    if (lstat(target, &to) != 0) return posix::failWithErrno(errno, target);
    if (from.st_uid == to.st_uid && from.st_gid == to.st_gid) return TRUE;
    if (lchown(target, from.st_uid, from.st_gid) != 0) return posix::failWithErrno(errno, target);
    const mode_t idBits = S_ISUID | S_ISGID;
    if (S_ISLNK(to.st_mode) || (to.st_mode & idBits) == 0) return TRUE;
    if (!posix::setModeNoFollow(target, to.st_mode & 07777))
        return posix::failWithErrno(errno, target);
    return TRUE;
}

}  // namespace platform
