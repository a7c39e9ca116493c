// A temporary folder below /tmp for the backend's tests, removed with
// everything in it when the test ends. Header only: used by tests alone.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {

class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/kaz-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~ScratchFolder() {
        nftw(root_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& name) const { return root_ + "/" + name; }

    // Creates (or replaces) a file holding `content`; returns its path.
    std::string file(const std::string& name, const std::string& content,
                     mode_t mode = 0644) const {
        std::string full = path(name);
        int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) throw std::runtime_error("cannot create " + full);
        bool written = write(fd, content.data(), content.size()) ==
                       static_cast<ssize_t>(content.size());
        fchmod(fd, mode);
        close(fd);
        if (!written) throw std::runtime_error("cannot write " + full);
        return full;
    }
    std::string folder(const std::string& name, mode_t mode = 0755) const {
        std::string full = path(name);
        if (mkdir(full.c_str(), mode) != 0) throw std::runtime_error("cannot mkdir " + full);
        return full;
    }
    std::string link(const std::string& name, const std::string& text) const {
        std::string full = path(name);
        if (symlink(text.c_str(), full.c_str()) != 0)
            throw std::runtime_error("cannot link " + full);
        return full;
    }
    // The whole content of a file, read directly (following links).
    static std::string contentOf(const std::string& full) {
        std::string content;
        int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return "<missing>";
        char block[4096];
        ssize_t n;
        while ((n = read(fd, block, sizeof block)) > 0) content.append(block, static_cast<size_t>(n));
        close(fd);
        return content;
    }

private:
    static int removeEntry(const char* name, const struct stat* status, int, FTW*) {
        if (S_ISDIR(status->st_mode)) {
            chmod(name, 0700);
            return rmdir(name) == 0 ? 0 : 0;
        }
        unlink(name);
        return 0;
    }
    std::string root_;
};

}  // namespace posix
