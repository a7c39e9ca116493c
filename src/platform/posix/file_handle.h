// The handle behind an open file, folder or symbolic link.
#pragma once

#include <string>

#include "platform/posix/anchor.h"
#include "platform/posix/handle.h"
#include "platform/windows_api.h"

namespace posix {

struct FileHandle : Handle {
    FileHandle() : Handle(Kind::File) {}
    ~FileHandle() override;

    // Closes the descriptor (which releases its locks); returns 0 or errno.
    int release();

    int fd = -1;  // -1 for a symbolic link
    bool readable = false;
    bool writable = false;
    std::string path;
    // A symbolic link is read as its text; it is found again by its name in
    // the folder it was opened in.
    bool isLink = false;
    FolderRef linkFolder;  // null when the name was not anchored
    std::string linkName;
    std::string linkText;
    size_t linkOffset = 0;
};

// The file handle behind `handle`, or null when it is none.
FileHandle* fileHandle(HANDLE handle);

struct FileStatus;
// What the open file (or, for a link, the link itself) is now.
bool statusOfHandle(const FileHandle& file, FileStatus& status);

}  // namespace posix
