// The real path of a path that may not exist yet.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

#include "platform/real_path.h"

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMostLinks = 40;

// Pushes the components of `text` to the front of `pending`, in order.
void prependComponents(const std::string& text, std::deque<std::string>& pending) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.emplace_back(text, start, end - start);
        start = end + 1;
    }
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) pending.push_front(*it);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

void cutLastComponent(std::string& path) {
    size_t cut = path.rfind('/');
    path.erase(cut == 0 ? 1 : cut);
}

bool readLinkText(const std::string& path, std::string& text) {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < buffer.size()) {
            text.assign(buffer.data(), static_cast<size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

namespace platform {

// Walks the path one name at a time over a real folder (`real`, which never
// holds a link, "." or ".."), splicing each link's text into the names still
// to come, so that ".." after a link climbs from where the link leads. From
// the first name that cannot be looked at on, the names are kept as written
// (`missing`) and only "." and ".." are worked out, since names that do not
// exist cannot be links; ".." that climbs out of them is physical again.
bool resolvePath(const char* path, std::string& resolved) {
    if (path == nullptr || path[0] == '\0') return false;
    std::string real = "/";
    if (path[0] != '/') {
        std::string cwd(4096, '\0');
        while (getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) return false;
            cwd.resize(cwd.size() * 2);
        }
        real = cwd.c_str();
    }
    std::deque<std::string> pending;
    prependComponents(path, pending);
    std::vector<std::string> missing;
    int linksFollowed = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            if (!missing.empty())
                missing.pop_back();
            else
                cutLastComponent(real);
            continue;
        }
        if (!missing.empty()) {
            missing.push_back(name);
            continue;
        }
        std::string candidate = joined(real, name);
        struct stat status;
        std::string linkText;
        if (lstat(candidate.c_str(), &status) != 0) {
            missing.push_back(name);
        } else if (!S_ISLNK(status.st_mode)) {
            real = candidate;
        } else if (linksFollowed < kMostLinks && readLinkText(candidate, linkText) &&
                   !linkText.empty()) {
            ++linksFollowed;
            if (linkText[0] == '/') real = "/";
            prependComponents(linkText, pending);
        } else {
            // A link loop leads nowhere; its own name is as far as it goes.
            missing.push_back(name);
        }
    }
    resolved = real;
    for (const std::string& name : missing) resolved = joined(resolved, name);
    return true;
}

}  // namespace platform
