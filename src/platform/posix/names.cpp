// Deleting and renaming names, making and removing folders.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/anchor.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

bool exists(const NameAt& at) {
    struct stat status;
    return fstatat(at.folder, at.c_name(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// File systems without RENAME_NOREPLACE get a look first; the gap between
// look and rename is the best they allow.
int renameWithoutReplacing(const NameAt& from, const NameAt& to) {
    if (renameat2(from.folder, from.c_name(), to.folder, to.c_name(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (exists(to)) return EEXIST;
    return renameat(from.folder, from.c_name(), to.folder, to.c_name()) == 0 ? 0 : errno;
}

// A missing source is "file not found"; a missing folder of the destination
// is "path not found".
BOOL failRename(int err, const NameAt& from, const char* fromPath) {
    if (err == ENOENT && exists(from)) return failWithCode(ERROR_PATH_NOT_FOUND);
    return failAt(from, err, fromPath);
}

}  // namespace
}  // namespace posix

using namespace posix;

// unlink never follows a link and refuses folders (EISDIR, read as 5).
BOOL DeleteFileA(LPCSTR name) {
    if (Injection fault = injectedFault(Call::DeleteFile, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    NameAt at;
    if (locate(name, at) && unlinkat(at.folder, at.c_name(), 0) == 0) return TRUE;
    return failAt(at, errno, name);
}

// Both names of a rename, each found without following a link below an
// anchor (their folder once, when they share it); `move` makes the rename
// and returns 0 or errno.
template <typename Move>
BOOL renameNames(LPCSTR from, LPCSTR to, Move move) {
    if (Injection fault = injectedFault(Call::MoveFile, from, to); fault.fails())
        return failWithCode(fault.code);
    if (from == nullptr || to == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    NameAt source, target;
    if (!locate(from, source)) return failAt(source, errno, from);
    if (!locateBeside(source, from, to, target)) return failAt(target, errno, to);
    int err = move(source, target);
    return err == 0 ? TRUE : failRename(err, source, from);
}

BOOL MoveFileA(LPCSTR from, LPCSTR to) {
    return renameNames(from, to, renameWithoutReplacing);
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return MoveFileA(from, to);
    return renameNames(from, to, [](const NameAt& source, const NameAt& target) {
        return renameat(source.folder, source.c_name(), target.folder, target.c_name()) == 0
                   ? 0
                   : errno;
    });
}

// Both names are found as a rename finds them; linkat without
// AT_SYMLINK_FOLLOW never follows the existing name.
BOOL CreateHardLinkA(LPCSTR newName, LPCSTR existingName, LPVOID) {
    if (Injection fault = injectedFault(Call::CreateHardLink, existingName, newName);
        fault.fails())
        return failWithCode(fault.code);
    if (newName == nullptr || existingName == nullptr)
        return failWithCode(ERROR_INVALID_PARAMETER);
    NameAt existing, made;
    if (!locate(existingName, existing)) return failAt(existing, errno, existingName);
    if (!locateBeside(existing, existingName, newName, made)) return failAt(made, errno, newName);
    if (linkat(existing.folder, existing.c_name(), made.folder, made.c_name(), 0) == 0)
        return TRUE;
    return failRename(errno, existing, existingName);
}

// Only a folder can be missing on the way to a new folder.
BOOL CreateDirectoryA(LPCSTR name, LPVOID) {
    if (Injection fault = injectedFault(Call::CreateDirectory, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    NameAt at;
    if (locate(name, at) && mkdirat(at.folder, at.c_name(), 0777) == 0) return TRUE;
    return failWithCode(errno == ENOENT ? ERROR_PATH_NOT_FOUND : windowsError(errno));
}

// rmdir never follows a final link. POSIX lets a non-empty folder report
// EEXIST as well as ENOTEMPTY.
BOOL RemoveDirectoryA(LPCSTR name) {
    if (Injection fault = injectedFault(Call::RemoveDirectory, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    NameAt at;
    if (!locate(name, at)) return failAt(at, errno, name);
    if (unlinkat(at.folder, at.c_name(), AT_REMOVEDIR) == 0) return TRUE;
    if (errno == EEXIST) return failWithCode(ERROR_DIR_NOT_EMPTY);
    return failAt(at, errno, name);
}
