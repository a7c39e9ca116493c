// Shortcuts on POSIX: symbolic links to folders.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/real_path.h"
#include "platform/shortcuts.h"

namespace {

bool readLinkText(const char* path, std::string& text) {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = readlink(path, buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < buffer.size()) {
            text.assign(buffer.data(), static_cast<size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Works out ".", ".." and doubled separators of an absolute path by text,
// so that the folder keeps the names the link was written with.
std::string normalized(const std::string& path) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(start, end - start);
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& name : names) result += "/" + name;
    return result.empty() ? "/" : result;
}

std::string parentOf(const std::string& path) {
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

}  // namespace

namespace platform {

bool readFolderShortcut(const char* path, std::string& folder) {
    struct stat link, target;
    if (path == nullptr || lstat(path, &link) != 0 || !S_ISLNK(link.st_mode)) return false;
    if (stat(path, &target) != 0 || !S_ISDIR(target.st_mode)) return false;
    std::string text;
    if (!readLinkText(path, text) || text.empty()) return false;
    if (text[0] != '/') {
        // The kernel reads a relative link from the real folder that holds it.
        std::string base;
        if (!resolvePath(parentOf(path).c_str(), base)) return false;
        text = base + "/" + text;
    }
    std::string candidate = normalized(text);
    struct stat named;
    if (stat(candidate.c_str(), &named) == 0 && named.st_dev == target.st_dev &&
        named.st_ino == target.st_ino) {
        folder = candidate;
        return true;
    }
    // ".." after a link inside the text climbs from where that link leads,
    // which text alone cannot see: take the fully resolved folder instead.
    std::string resolved;
    if (!resolvePath(path, resolved)) return false;
    folder = resolved;
    return true;
}

}  // namespace platform
