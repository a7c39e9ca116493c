// Holes found with SEEK_DATA and SEEK_HOLE, skipped with lseek, ended with
// ftruncate.
#include "platform/sparse_files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/error_map.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/file_status.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

FileHandle* plainFile(HANDLE handle) {
    FileHandle* file = fileHandle(handle);
    return file != nullptr && file->fd >= 0 && !file->isLink ? file : nullptr;
}

}  // namespace
}  // namespace posix

using namespace posix;

namespace platform {

bool hasHoles(HANDLE handle) {
    FileHandle* file = plainFile(handle);
    FileStatus status;
    if (file == nullptr || !statusOfHandle(*file, status)) return false;
    return status.blocks * 512 < status.size;
}

// SEEK_DATA and SEEK_HOLE move the position; it is put back, so that the
// look changes nothing the copy relies on.
BOOL findData(HANDLE handle, uint64_t offset, uint64_t* start, uint64_t* end) {
    FileHandle* file = plainFile(handle);
    if (file == nullptr || start == nullptr || end == nullptr)
        return failWithCode(ERROR_INVALID_PARAMETER);
    FileStatus status;
    if (!statusOfDescriptor(file->fd, status)) return failWithErrno(errno);
    *start = *end = status.size;
    if (offset >= status.size) return TRUE;
    const off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0) return failWithErrno(errno);
    off_t data = lseek(file->fd, static_cast<off_t>(offset), SEEK_DATA);
    off_t hole = data < 0 ? data : lseek(file->fd, data, SEEK_HOLE);
    const int err = errno;
    lseek(file->fd, position, SEEK_SET);
    // No data after the offset: the rest is one hole.
    if (data < 0 && err == ENXIO) return TRUE;
    if (hole < 0) return failWithErrno(err);
    *start = static_cast<uint64_t>(data);
    *end = static_cast<uint64_t>(hole);
    return TRUE;
}

BOOL allowHoles(HANDLE handle) {
    return plainFile(handle) != nullptr ? TRUE : failWithCode(ERROR_INVALID_HANDLE);
}

BOOL skipTo(HANDLE source, HANDLE target, uint64_t offset) {
    FileHandle* from = plainFile(source);
    FileHandle* to = plainFile(target);
    if (from == nullptr || to == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    const off_t position = static_cast<off_t>(offset);
    if (lseek(from->fd, position, SEEK_SET) < 0 || lseek(to->fd, position, SEEK_SET) < 0)
        return failWithErrno(errno);
    return TRUE;
}

BOOL setFileSize(HANDLE handle, uint64_t size) {
    FileHandle* file = plainFile(handle);
    if (file == nullptr || !file->writable) return failWithCode(ERROR_INVALID_HANDLE);
    file->seenCurrent = false;
    int result;
    do {
        result = ftruncate(file->fd, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0 ? TRUE : failWithErrno(errno);
}

}  // namespace platform
