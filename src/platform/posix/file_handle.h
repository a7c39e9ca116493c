// The handle behind an open file, folder or symbolic link.
#pragma once

#include <string>

#include "platform/posix/anchor.h"
#include "platform/posix/file_status.h"
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
    // The open made the file (O_EXCL): the times and owner it was made with
    // are nobody's to spare, and it has no set-ID bit or capability yet that
    // a change of owner would clear.
    bool created = false;
    // Opened with O_NOATIME: reading through it leaves the access time alone.
    bool keepsAccessTime = false;
    // What the handle last saw of the file (the open's own look included),
    // kept while nothing is done through it; every call that acts through
    // the handle forgets it. A change made from outside meanwhile is not
    // seen, so only questions that follow one another at once rely on it.
    mutable FileStatus seen;
    mutable bool seenCurrent = false;
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

// What the open file (or, for a link, the link itself) is: as the handle
// last saw it while nothing has been done through it since, so that the
// questions asked one after the other about a file just opened or just
// copied take one look; else as it is now. A call that changes the file
// decides on a look of its own instead.
bool statusOfHandle(const FileHandle& file, FileStatus& status);

}  // namespace posix
