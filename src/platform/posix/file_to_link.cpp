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

// `times` receives the file's access and modification times.
bool readLinkText(const char* path, std::string& text, timespec (&times)[2]) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat status;
    bool ok = readContent(fd, text, status);
    int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    if (!ok) return false;
    times[0] = status.st_atim;
    times[1] = status.st_mtim;
    return true;
}

std::string folderPrefix(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A short unused name beside `path`, so it stays in the same file system and
// within the name length limit whatever the file's own name.
bool makeLinkBeside(const std::string& path, const std::string& text, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folderPrefix(path) + ".kaz-link-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter++);
        if (symlink(text.c_str(), temporary.c_str()) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace

BOOL turnFileIntoLink(const char* path) {
    std::string text;
    timespec times[2];
    if (!readLinkText(path, text, times)) return failWithErrno(errno, path);
    std::string temporary;
    if (!makeLinkBeside(path, text, temporary)) return failWithErrno(errno, path);
    if (utimensat(AT_FDCWD, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 ||
        rename(temporary.c_str(), path) != 0) {
        int savedErrno = errno;
        unlink(temporary.c_str());
        return failWithErrno(savedErrno, path);
    }
    return TRUE;
}

}  // namespace posix
