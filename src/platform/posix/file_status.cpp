#include "platform/posix/file_status.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/windows_api.h"

namespace posix {
namespace {

timespec fromStatx(const statx_timestamp& time) {
    timespec result{};
    result.tv_sec = static_cast<time_t>(time.tv_sec);
    result.tv_nsec = static_cast<long>(time.tv_nsec);
    return result;
}

void fillFromStatx(const struct statx& info, FileStatus& status) {
    status.mode = info.stx_mode;
    status.size = info.stx_size;
    status.access = fromStatx(info.stx_atime);
    status.modification = fromStatx(info.stx_mtime);
    status.creation = (info.stx_mask & STATX_BTIME) ? fromStatx(info.stx_btime)
                                                    : status.modification;
    status.statusChange = fromStatx(info.stx_ctime);
    status.device = (static_cast<uint64_t>(info.stx_dev_major) << 32) | info.stx_dev_minor;
    status.inode = info.stx_ino;
    status.links = info.stx_nlink;
    status.blocks = info.stx_blocks;
    status.owner = info.stx_uid;
    status.group = info.stx_gid;
}

void fillFromStat(const struct stat& info, FileStatus& status) {
    status.mode = info.st_mode;
    status.size = static_cast<uint64_t>(info.st_size);
    status.access = info.st_atim;
    status.modification = info.st_mtim;
    status.creation = info.st_mtim;
    status.statusChange = info.st_ctim;
    status.device = info.st_dev;
    status.inode = info.st_ino;
    status.links = info.st_nlink;
    status.blocks = static_cast<uint64_t>(info.st_blocks);
    status.owner = info.st_uid;
    status.group = info.st_gid;
}

bool statusAt(int folderFd, const char* name, int flags, FileStatus& status) {
    struct statx info;
    const unsigned wanted = STATX_BASIC_STATS | STATX_BTIME;
    if (statx(folderFd, name, flags, wanted, &info) == 0) {
        fillFromStatx(info, status);
        return true;
    }
    if (errno != ENOSYS) return false;
    // Kernels without statx: no birth time.
    struct stat plain;
    if (fstatat(folderFd, name, &plain, flags) != 0) return false;
    fillFromStat(plain, status);
    return true;
}

bool isHiddenName(const char* name) {
    return name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// Every entry has a type bit, so FILE_ATTRIBUTE_NORMAL never describes one.
DWORD typeAttributes(mode_t mode) {
    if (S_ISDIR(mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(mode)) return FILE_ATTRIBUTE_REPARSE_POINT;
    if (S_ISREG(mode)) return FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_SYSTEM;
}

}  // namespace


bool statusInFolder(int folderFd, const char* name, FileStatus& status) {
    return statusAt(folderFd, name, AT_SYMLINK_NOFOLLOW, status);
}

bool statusOfDescriptor(int fd, FileStatus& status) {
    return statusAt(fd, "", AT_EMPTY_PATH, status);
}

DWORD attributeWord(const FileStatus& status, const char* name) {
    DWORD word = typeAttributes(status.mode);
    if (!S_ISLNK(status.mode) && !(status.mode & S_IWUSR)) word |= FILE_ATTRIBUTE_READONLY;
    if (isHiddenName(name)) word |= FILE_ATTRIBUTE_HIDDEN;
    DWORD permissions = static_cast<DWORD>(status.mode & 07777);
    return word | FILE_ATTRIBUTE_POSIX_MODE | (permissions << FILE_ATTRIBUTE_POSIX_MODE_SHIFT);
}

bool isRegularFileWord(DWORD word) {
    constexpr DWORD kOtherTypes =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SYSTEM;
    return (word & FILE_ATTRIBUTE_ARCHIVE) != 0 && (word & kOtherTypes) == 0;
}

std::string lastComponent(const char* path) {
    std::string text(path);
    std::string::size_type end = text.find_last_not_of('/');
    if (end == std::string::npos) return text.empty() ? text : "/";
    std::string::size_type slash = text.rfind('/', end);
    std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    return text.substr(start, end + 1 - start);
}

}  // namespace posix
