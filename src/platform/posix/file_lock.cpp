#include "platform/posix/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

#include "platform/windows_api.h"

namespace posix {
namespace {

bool isConflict(int err) {
    return err == EWOULDBLOCK || err == EAGAIN || err == EACCES;
}

// Failures that mean the file system keeps no such locks (or not for this
// access mode, as flock over NFS): the open goes on without that lock.
bool isUnsupported(int err) {
    return err == ENOLCK || err == EINVAL || err == EOPNOTSUPP || err == ENOSYS ||
           err == EBADF;
}

int outcome(int err) {
    if (isConflict(err)) return EWOULDBLOCK;
    return isUnsupported(err) ? 0 : err;
}

int takeFlock(int fd, int operation) {
    for (;;) {
        if (flock(fd, operation | LOCK_NB) == 0) return 0;
        if (errno != EINTR) return outcome(errno);
    }
}

struct flock wholeFile(short type) {
    struct flock region{};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = 0;
    region.l_len = 0;
    return region;
}

int takeRecordLock(int fd, short type) {
    struct flock region = wholeFile(type);
    return fcntl(fd, F_OFD_SETLK, &region) == 0 ? 0 : outcome(errno);
}

// A descriptor without the access this record lock needs (a write lock on a
// read-only open) still looks whether a lock held elsewhere is in the way.
int checkRecordLock(int fd, short type) {
    struct flock region = wholeFile(type);
    if (fcntl(fd, F_OFD_GETLK, &region) != 0) return outcome(errno);
    return region.l_type == F_UNLCK ? 0 : EWOULDBLOCK;
}

// An open that takes no lock still respects a holder that allows nothing:
// a flock LOCK_EX, or a record write lock, held elsewhere.
int checkNoExclusiveHolder(int fd) {
    int result = takeFlock(fd, LOCK_SH);
    if (result != 0) return result;
    flock(fd, LOCK_UN);
    return checkRecordLock(fd, F_RDLCK);
}

}  // namespace

ShareLock shareLockFor(DWORD shareMode) {
    bool othersRead = (shareMode & FILE_SHARE_READ) != 0;
    bool othersWrite = (shareMode & FILE_SHARE_WRITE) != 0;
    if (othersRead && othersWrite) return ShareLock::None;
    return othersRead ? ShareLock::Shared : ShareLock::Exclusive;
}

int takeShareLock(int fd, ShareLock lock, bool readable, bool writable) {
    if (lock == ShareLock::None) return checkNoExclusiveHolder(fd);
    bool shared = lock == ShareLock::Shared;
    int result = takeFlock(fd, shared ? LOCK_SH : LOCK_EX);
    if (result != 0) return result;
    short type = shared ? F_RDLCK : F_WRLCK;
    bool canTake = shared ? readable : writable;
    return canTake ? takeRecordLock(fd, type) : checkRecordLock(fd, type);
}

}  // namespace posix
