#include "platform/posix/file_to_link.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/error_map.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

constexpr size_t kLongestLinkText = PATH_MAX - 1;

bool refuse(int err) {
    errno = err;
    return false;
}

// The content of a regular file that can serve as a link text: not empty,
// no longer than a path, no NUL byte.
bool readContent(int fd, std::string& text, struct stat& status) {
    if (fstat(fd, &status) != 0) return false;
    if (!S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<size_t>(status.st_size) > kLongestLinkText)
        return refuse(EINVAL);
    char buffer[PATH_MAX];
    ssize_t count = pread(fd, buffer, sizeof buffer, 0);
    if (count < 0) return false;
    if (count == 0 || static_cast<size_t>(count) > kLongestLinkText) return refuse(EINVAL);
    text.assign(buffer, static_cast<size_t>(count));
    if (text.find('\0') != std::string::npos) return refuse(EINVAL);
    return true;
}

// What the link keeps of the file it replaces.
struct Kept {
    timespec times[2];  // access and modification
    uid_t owner;
    gid_t group;
};

bool readLinkText(const NameAt& at, std::string& text, Kept& kept) {
    int fd = openat(at.folder, at.c_name(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat status;
    bool ok = readContent(fd, text, status);
    int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    if (!ok) return false;
    kept.times[0] = status.st_atim;
    kept.times[1] = status.st_mtim;
    kept.owner = status.st_uid;
    kept.group = status.st_gid;
    return true;
}

std::string folderPrefix(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A short unused name beside `path`, so it stays in the same file system and
// within the name length limit whatever the file's own name. It begins like
// the names of replacements under way, which a later run removes when a
// killed run left one behind.
bool makeLinkBeside(const NameAt& at, const std::string& text, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folderPrefix(at.name) + ".~kaz~link-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter++);
        if (symlinkat(text.c_str(), at.folder, temporary.c_str()) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace

// A link made by root belongs to root: it takes the file's owner, which the
// copy gave the file before it became a link.
bool keepOwner(const NameAt& at, const std::string& temporary, const Kept& kept) {
    static const bool root = geteuid() == 0;
    if (!root || (kept.owner == 0 && kept.group == 0)) return true;
    return fchownat(at.folder, temporary.c_str(), kept.owner, kept.group,
                    AT_SYMLINK_NOFOLLOW) == 0;
}

BOOL turnFileIntoLink(const NameAt& at) {
    std::string text;
    Kept kept;
    if (!readLinkText(at, text, kept)) return failAt(at, errno, at.c_name());
    std::string temporary;
    if (!makeLinkBeside(at, text, temporary)) return failAt(at, errno, at.c_name());
    if (!keepOwner(at, temporary, kept) ||
        utimensat(at.folder, temporary.c_str(), kept.times, AT_SYMLINK_NOFOLLOW) != 0 ||
        renameat(at.folder, temporary.c_str(), at.folder, at.c_name()) != 0) {
        int savedErrno = errno;
        unlinkat(at.folder, temporary.c_str(), 0);
        return failAt(at, savedErrno, at.c_name());
    }
    return TRUE;
}

}  // namespace posix
