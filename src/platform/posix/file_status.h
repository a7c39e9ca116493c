// What the backend learns about one file system entry, and the Windows
// attribute word that describes it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>

#include "platform/windows_api.h"

namespace posix {

struct FileStatus {
    mode_t mode = 0;
    uint64_t size = 0;
    timespec access{};
    timespec modification{};
    // Birth time where the file system reports one, else the modification time.
    timespec creation{};
    timespec statusChange{};
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t links = 0;
    uint64_t blocks = 0;  // allocated, in 512-byte units
    uid_t owner = 0;
    gid_t group = 0;
};

// The entry `name` inside the open folder `folderFd` (AT_FDCWD: `name` is a
// path), never following a final symbolic link. On failure returns false
// with errno set.
bool statusInFolder(int folderFd, const char* name, FileStatus& status);
// The file behind an open descriptor.
bool statusOfDescriptor(int fd, FileStatus& status);

// The attribute word of an entry called `name` (its last path component).
DWORD attributeWord(const FileStatus& status, const char* name);
// Whether an attribute word of attributeWord's describes a regular file.
bool isRegularFileWord(DWORD word);

// The last component of a path, trailing separators ignored ("/" for the root).
std::string lastComponent(const char* path);

}  // namespace posix
