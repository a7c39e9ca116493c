#include "platform/posix/mode_change.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace posix {
namespace {

// Without fchmodat's no-follow support (no /proc, old C library): change the
// mode through a descriptor opened without following. Special files are
// never opened (a device may act on open), so they take the plain call.
bool setModeThroughDescriptor(int folder, const char* name, mode_t mode) {
    struct stat status;
    if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISLNK(status.st_mode)) return true;
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        return fchmodat(folder, name, mode, 0) == 0;
    int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ELOOP;
    bool changed = fchmod(fd, mode) == 0;
    int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    return changed;
}

// The kernel's own no-follow mode change (Linux 6.6 and later) takes one
// call where the C library's takes four; a link refuses it as unsupported.
// Older C libraries lack its name; new calls share one number on every
// architecture.
constexpr long kFchmodat2 = 452;

bool setModeInKernel(int folder, const char* name, mode_t mode) {
    return syscall(kFchmodat2, folder, name, mode, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

bool setModeNoFollow(int folder, const char* name, mode_t mode) {
    if (setModeInKernel(folder, name, mode)) return true;
    if (errno != ENOSYS && errno != EOPNOTSUPP && errno != ENOTSUP) return false;
    if (fchmodat(folder, name, mode, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != EOPNOTSUPP && errno != ENOTSUP && errno != ENOSYS) return false;
    return setModeThroughDescriptor(folder, name, mode);
}

}  // namespace posix
