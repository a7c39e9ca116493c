// What an open file tells about itself, and setting its times.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/access_time.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/file_status.h"
#include "platform/posix/file_time.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

// A link handle has no descriptor: it is looked at by its name.
int linkFolder(const FileHandle& file) {
    return file.linkFolder != nullptr ? file.linkFolder->fd : AT_FDCWD;
}

DWORD low(uint64_t value) {
    return static_cast<DWORD>(value & 0xFFFFFFFFu);
}

DWORD high(uint64_t value) {
    return static_cast<DWORD>(value >> 32);
}

void fillInformation(const FileStatus& status, const std::string& path,
                     BY_HANDLE_FILE_INFORMATION* info) {
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = attributeWord(status, lastComponent(path.c_str()).c_str());
    info->ftCreationTime = toFileTime(status.creation);
    info->ftLastAccessTime = toFileTime(status.access);
    info->ftLastWriteTime = toFileTime(status.modification);
    info->dwVolumeSerialNumber = low(status.device) ^ high(status.device);
    uint64_t size = S_ISDIR(status.mode) ? 0 : status.size;
    info->nFileSizeHigh = high(size);
    info->nFileSizeLow = low(size);
    info->nNumberOfLinks = static_cast<DWORD>(status.links);
    info->nFileIndexHigh = high(status.inode);
    info->nFileIndexLow = low(status.inode);
}

// The time to set, or UTIME_OMIT when none is asked for.
timespec timeGiven(const FILETIME* wanted) {
    timespec result{};
    result.tv_nsec = UTIME_OMIT;
    return wanted == nullptr ? result : toTimespec(*wanted);
}

// The same, and UTIME_OMIT too when the file has the time already at
// file-time precision: rewriting an equal time would still change the file's
// ctime.
timespec timeToSet(const FILETIME* wanted, const timespec& current) {
    if (wanted != nullptr && fileTimeTicks(*wanted) == fileTimeTicks(toFileTime(current)))
        return timeGiven(nullptr);
    return timeGiven(wanted);
}

bool isOmitted(const timespec& time) {
    return time.tv_nsec == UTIME_OMIT;
}

// Looks at the file as it is now, and keeps what it saw for the questions
// that follow.
bool lookAt(const FileHandle& file, FileStatus& status) {
    file.seenCurrent = file.isLink
                           ? statusInFolder(linkFolder(file), file.linkName.c_str(), status)
                           : statusOfDescriptor(file.fd, status);
    if (file.seenCurrent) file.seen = status;
    return file.seenCurrent;
}

}  // namespace

bool statusOfHandle(const FileHandle& file, FileStatus& status) {
    if (!file.seenCurrent) return lookAt(file, status);
    status = file.seen;
    return true;
}

}  // namespace posix

using namespace posix;

BOOL GetFileInformationByHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
    FileHandle* file = fileHandle(handle);
    if (file == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    if (info == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    if (Injection fault = injectedFault(Call::GetFileInformationByHandle, file->path.c_str());
        fault.fails())
        return failWithCode(fault.code);
    FileStatus status;
    if (!statusOfHandle(*file, status)) return failWithErrno(errno);
    fillInformation(status, file->path, info);
    return TRUE;
}

BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    FileHandle* file = fileHandle(handle);
    if (file == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    FileStatus status;
    if (!statusOfHandle(*file, status)) return failWithErrno(errno);
    if (creation != nullptr) *creation = toFileTime(status.creation);
    if (lastAccess != nullptr) *lastAccess = toFileTime(status.access);
    if (lastWrite != nullptr) *lastWrite = toFileTime(status.modification);
    return TRUE;
}

namespace platform {

bool readsKeepAccessTime(HANDLE handle) {
    FileHandle* file = fileHandle(handle);
    return file != nullptr && file->keepsAccessTime;
}

}  // namespace platform

// The creation time cannot be set on POSIX and is ignored.
BOOL SetFileTime(HANDLE handle, const FILETIME*, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
    FileHandle* file = fileHandle(handle);
    if (file == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    if (Injection fault = injectedFault(Call::SetFileTime, file->path.c_str()); fault.fails())
        return failWithCode(fault.code);
    // A file this handle created has no change time worth sparing: the times
    // are set without a look. Any other is looked at now, whatever the handle
    // saw before, so that a time changed meanwhile from outside is put back.
    timespec times[2] = {timeGiven(lastAccess), timeGiven(lastWrite)};
    if (!file->created) {
        FileStatus status;
        if (!lookAt(*file, status)) return failWithErrno(errno);
        times[0] = timeToSet(lastAccess, status.access);
        times[1] = timeToSet(lastWrite, status.modification);
    }
    if (isOmitted(times[0]) && isOmitted(times[1])) return TRUE;
    file->seenCurrent = false;
    int result = file->isLink
                     ? utimensat(linkFolder(*file), file->linkName.c_str(), times,
                                 AT_SYMLINK_NOFOLLOW)
                     : futimens(file->fd, times);
    return result == 0 ? TRUE : failWithErrno(errno);
}
