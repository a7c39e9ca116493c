#include "platform/file_identity.h"

#include <sys/stat.h>

#include "platform/posix/anchor.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/file_status.h"
#include "platform/windows_api.h"

namespace platform {

bool isSameFile(HANDLE file, const char* path) {
    posix::FileHandle* open = posix::fileHandle(file);
    if (open == nullptr || open->fd < 0 || path == nullptr) return false;
    posix::FileStatus held, named;
    posix::NameAt at;
    return posix::statusOfDescriptor(open->fd, held) && posix::locateStatus(path, at, named) &&
           held.device == named.device && held.inode == named.inode;
}

}  // namespace platform
