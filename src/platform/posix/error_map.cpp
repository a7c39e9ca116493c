#include "platform/posix/error_map.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

#include "platform/windows_api.h"

namespace posix {
namespace {

struct ErrnoRow {
    int err;
    DWORD code;
};

// EAGAIN comes from a refused non-blocking lock, so it reads as a busy file.
const ErrnoRow kRows[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {EROFS, ERROR_WRITE_PROTECT},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EAGAIN, ERROR_SHARING_VIOLATION},
    {EDEADLK, ERROR_LOCK_VIOLATION},
    {ENOLCK, ERROR_SHARING_BUFFER_EXCEEDED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ENETDOWN, ERROR_BAD_NETPATH},
    {ENETUNREACH, ERROR_BAD_NETPATH},
    {EHOSTDOWN, ERROR_BAD_NETPATH},
    {EHOSTUNREACH, ERROR_BAD_NETPATH},
    {ENXIO, ERROR_DEV_NOT_EXIST},
    {ENODEV, ERROR_DEV_NOT_EXIST},
    {ESTALE, ERROR_NETNAME_DELETED},
    {ENOTCONN, ERROR_NETNAME_DELETED},
    {ECONNRESET, ERROR_NETNAME_DELETED},
    {ECONNABORTED, ERROR_NETNAME_DELETED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EFBIG, ERROR_DISK_FULL},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
    {ETIMEDOUT, ERROR_SEM_TIMEOUT},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ELOOP, ERROR_BAD_PATHNAME},
    {EBUSY, ERROR_BUSY},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EIO, ERROR_IO_DEVICE},
};

DWORD tableCode(int err) {
    if (err == 0) return ERROR_SUCCESS;
    // On some systems these are distinct values with the same meaning.
    if (err == EWOULDBLOCK) err = EAGAIN;
    if (err == ENOTSUP) err = EOPNOTSUPP;
    for (const ErrnoRow& row : kRows)
        if (row.err == err) return row.code;
    return ERROR_GEN_FAILURE;
}

std::string folderOf(const std::string& path) {
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    std::string::size_type slash = path.rfind('/', end);
    if (slash == std::string::npos) return ".";
    std::string::size_type folderEnd = path.find_last_not_of('/', slash);
    if (folderEnd == std::string::npos) return "/";
    return path.substr(0, folderEnd + 1);
}

}  // namespace

bool folderOfPathMissing(const char* path) {
    struct stat status;
    if (stat(folderOf(path).c_str(), &status) == 0) return !S_ISDIR(status.st_mode);
    return errno == ENOENT || errno == ENOTDIR;
}

DWORD windowsError(int err, const char* path) {
    if (err == ENOENT && path != nullptr && folderOfPathMissing(path))
        return ERROR_PATH_NOT_FOUND;
    return tableCode(err);
}

BOOL failWithErrno(int err, const char* path) {
    return failWithCode(windowsError(err, path));
}

BOOL failWithCode(DWORD code) {
    SetLastError(code);
    return FALSE;
}

}  // namespace posix
