// Deleting and renaming names, making and removing folders.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"

namespace posix {
namespace {

bool exists(const char* path) {
    struct stat status;
    return lstat(path, &status) == 0;
}

// File systems without RENAME_NOREPLACE get a look first; the gap between
// look and rename is the best they allow.
int renameWithoutReplacing(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (exists(to)) return EEXIST;
    return rename(from, to) == 0 ? 0 : errno;
}

// A missing source is "file not found"; a missing folder of the destination
// is "path not found".
DWORD renameError(int err, const char* from) {
    if (err != ENOENT) return windowsError(err);
    return exists(from) ? ERROR_PATH_NOT_FOUND : windowsError(err, from);
}

}  // namespace
}  // namespace posix

using namespace posix;

// unlink never follows a link and refuses folders (EISDIR, read as 5).
BOOL DeleteFileA(LPCSTR name) {
    if (Injection fault = injectedFault(Call::DeleteFile, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    return unlink(name) == 0 ? TRUE : failWithErrno(errno, name);
}

BOOL MoveFileA(LPCSTR from, LPCSTR to) {
    if (Injection fault = injectedFault(Call::MoveFile, from, to); fault.fails())
        return failWithCode(fault.code);
    if (from == nullptr || to == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    int err = renameWithoutReplacing(from, to);
    return err == 0 ? TRUE : failWithCode(renameError(err, from));
}

// Only a folder can be missing on the way to a new folder.
BOOL CreateDirectoryA(LPCSTR name, LPVOID) {
    if (Injection fault = injectedFault(Call::CreateDirectory, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    if (mkdir(name, 0777) == 0) return TRUE;
    return failWithCode(errno == ENOENT ? ERROR_PATH_NOT_FOUND : windowsError(errno));
}

// rmdir never follows a final link. POSIX lets a non-empty folder report
// EEXIST as well as ENOTEMPTY.
BOOL RemoveDirectoryA(LPCSTR name) {
    if (Injection fault = injectedFault(Call::RemoveDirectory, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    if (rmdir(name) == 0) return TRUE;
    return failWithCode(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : windowsError(errno, name));
}
