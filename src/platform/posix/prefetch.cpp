// Reads a tree's folders and entry metadata on a background thread, ahead of
// the walk, so that the walk's own listings find the inodes in the cache. On
// a cold cache a walk waits for one inode read after another; with the
// source and the target each read ahead on a thread of its own, those reads
// overlap. Nothing is changed and nothing is remembered but the kernel's
// cache: a name that vanishes or cannot be read is passed over.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/prefetch.h"

namespace posix {

std::atomic<uint64_t> entriesListed{0};

}  // namespace posix

namespace {

// How far the read-ahead may run in front of the walk, in entries: enough
// to keep the disk busy, little enough that what it read is still cached
// when the walk gets there.
constexpr uint64_t kLead = 100000;

bool isFolderEntry(int folderFd, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat status;
    return fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode);
}

bool isDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

namespace platform {

class TreePrefetch {
public:
    explicit TreePrefetch(std::string root) : pending_{std::move(root)} {
        for (int i = 0; i < kReaders; ++i) readers_.emplace_back([this] { readFolders(); });
    }
    ~TreePrefetch() {
        stop_ = true;
        for (std::thread& reader : readers_) reader.join();
    }

private:
    // Several readers keep several inode reads in flight. They share one
    // stack of folders, so the tree is read roughly depth first, subfolders
    // in listing order, as the walk goes.
    void readFolders() {
        while (!stop_) {
            std::string folder;
            if (!takeFolder(folder)) {
                if (busy_.load() == 0) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            std::vector<std::string> children = readFolder(folder);
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto child = children.rbegin(); child != children.rend(); ++child)
                pending_.push_back(std::move(*child));
            --busy_;
        }
    }

    bool takeFolder(std::string& folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.empty()) return false;
        folder = std::move(pending_.back());
        pending_.pop_back();
        ++busy_;
        return true;
    }

    std::vector<std::string> readFolder(const std::string& folder) {
        std::vector<std::string> children;
        int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return children;
        DIR* listing = fdopendir(fd);
        if (listing == nullptr) {
            close(fd);
            return children;
        }
        const std::string prefix = folder.back() == '/' ? folder : folder + '/';
        while (const dirent* entry = readdir(listing)) {
            if (stop_) break;
            if (isDots(entry->d_name)) continue;
            keepPace();
            struct statx info;
            statx(fd, entry->d_name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info);
            if (isFolderEntry(fd, entry)) children.push_back(prefix + entry->d_name);
        }
        closedir(listing);
        return children;
    }

    void keepPace() {
        uint64_t read = read_.fetch_add(1, std::memory_order_relaxed);
        while (!stop_ && read > posix::entriesListed.load(std::memory_order_relaxed) + kLead)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    static constexpr int kReaders = 4;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> read_{0};
    std::atomic<int> busy_{0};
    std::mutex mutex_;
    std::vector<std::string> pending_;
    std::vector<std::thread> readers_;
};

TreePrefetch* startTreePrefetch(const char* folder) {
    if (folder == nullptr || folder[0] == '\0') return nullptr;
    try {
        return new TreePrefetch(folder);
    } catch (...) {
        return nullptr;  // no thread, no read-ahead: the walk is only slower
    }
}

void stopTreePrefetch(TreePrefetch* prefetch) { delete prefetch; }

}  // namespace platform
