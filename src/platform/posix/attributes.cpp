// The attribute word of a name, read and written.
#include <cerrno>
#include <sys/stat.h>

#include "platform/owner_copy.h"
#include "platform/posix/anchor.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/file_status.h"
#include "platform/posix/file_to_link.h"
#include "platform/posix/mode_change.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

constexpr mode_t kAllWrite = S_IWUSR | S_IWGRP | S_IWOTH;

bool carriesMode(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_POSIX_MODE) != 0;
}

// The mode a name should get: the carried permission bits exactly, or the
// current ones changed only as far as the read-only bit asks. Folders keep
// the owner's rights so that the run can fill them.
mode_t wantedMode(DWORD attributes, mode_t current) {
    mode_t mode = current & 07777;
    if (carriesMode(attributes))
        mode = static_cast<mode_t>((attributes >> FILE_ATTRIBUTE_POSIX_MODE_SHIFT) & 07777);
    else if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~kAllWrite;
    else
        mode |= S_IWUSR;
    if (S_ISDIR(current)) mode |= S_IRWXU;
    return mode;
}

}  // namespace
}  // namespace posix

using namespace posix;

DWORD GetFileAttributesA(LPCSTR name) {
    if (Injection fault = injectedFault(Call::GetFileAttributes, name); fault.fails()) {
        failWithCode(fault.code);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (name == nullptr) {
        failWithCode(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    FileStatus status;
    NameAt at;
    if (!locateStatus(name, at, status)) {
        failAt(at, errno, name);
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributeWord(status, lastComponent(name).c_str());
}

// Hidden, system and archive follow from the name and the file type and
// cannot be set. A word that describes a symbolic link turns a regular file
// into one; on anything but a regular file it changes nothing, since a link's
// permission bits mean nothing elsewhere.
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
    if (Injection fault = injectedFault(Call::SetFileAttributes, name); fault.fails())
        return failWithCode(fault.code);
    if (name == nullptr || attributes == INVALID_FILE_ATTRIBUTES)
        return failWithCode(ERROR_INVALID_PARAMETER);
    FileStatus status;
    NameAt at;
    if (!locateStatus(name, at, status))
        return failAt(at, errno, name);
    if (S_ISLNK(status.mode)) return TRUE;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return S_ISREG(status.mode) ? turnFileIntoLink(at) : TRUE;
    mode_t mode = wantedMode(attributes, status.mode);
    if (mode == (status.mode & 07777)) return TRUE;
    return setModeNoFollow(at.folder, at.c_name(), mode) ? TRUE : failAt(at, errno, name);
}

namespace platform {

bool givePermissionsOfOpen(HANDLE target, DWORD attributes) {
    if (!carriesMode(attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    FileHandle* file = fileHandle(target);
    if (file == nullptr || file->fd < 0) return false;
    // A file the handle created is the regular file O_EXCL made: no look.
    FileStatus status;
    status.mode = S_IFREG;
    if (!file->created && !statusOfHandle(*file, status)) return false;
    file->seenCurrent = false;
    return fchmod(file->fd, wantedMode(attributes, status.mode)) == 0;
}

}  // namespace platform
