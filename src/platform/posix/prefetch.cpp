// On a cold cache a walk waits for one inode read after another; with the
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

#include "platform/posix/anchor.h"
#include "platform/posix/prefetch.h"
#include "platform/tree_prefetch.h"

namespace posix {

std::atomic<uint64_t> entriesListed{0};

}  // namespace posix

namespace {

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

TreePrefetch::TreePrefetch(std::string root, uint64_t lead,
                           std::chrono::nanoseconds cachedLookUp)
    : lead_(lead), cachedLookUp_(cachedLookUp), pending_{std::move(root)} {
    try {
        for (int i = 0; i < kReaders; ++i) readers_.emplace_back([this] { readFolders(); });
    } catch (...) {
        // The readers already started must not outlive a half-built object.
        stop_ = true;
        waitUntilDone();
        throw;
    }
}

TreePrefetch::~TreePrefetch() {
    stop_ = true;
    waitUntilDone();
}

void TreePrefetch::waitUntilDone() {
    for (std::thread& reader : readers_)
        if (reader.joinable()) reader.join();
}

// Several readers keep several inode reads in flight. They share one stack
// of folders, so the tree is read roughly depth first, subfolders in listing
// order, as the walk goes.
void TreePrefetch::readFolders() {
    std::string folder;
    while (!stop_ && takeFolder(folder)) {
        if (folder.empty()) {
            // Others are still reading folders that may hold more.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        std::vector<std::string> children = readFolder(folder);
        foldersRead_.fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending_.push_back(std::move(*child));
        --busy_;
    }
}

bool TreePrefetch::takeFolder(std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    folder.clear();
    if (pending_.empty()) return busy_ > 0;
    folder = std::move(pending_.back());
    pending_.pop_back();
    ++busy_;
    return true;
}

std::vector<std::string> TreePrefetch::readFolder(const std::string& folder) {
    std::vector<std::string> children;
    int fd = posix::openFolderToList(folder.c_str());
    if (fd < 0) return children;
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        close(fd);
        return children;
    }
    const std::string prefix = folder.back() == '/' ? folder : folder + '/';
    // While the samples find the cache warm, only every kSampleStride-th
    // entry is looked up; after the first slow one, every entry is.
    constexpr unsigned kSampleStride = 8;
    bool cached = true;
    for (unsigned index = 0; const dirent* entry = readdir(listing);) {
        if (stop_) break;
        if (isDots(entry->d_name)) continue;
        keepPace();
        if (!cached)
            lookUp(fd, entry->d_name);
        else if (index++ % kSampleStride == 0)
            cached = lookUpIsCached(fd, entry->d_name);
        if (isFolderEntry(fd, entry)) children.push_back(prefix + entry->d_name);
    }
    closedir(listing);
    return children;
}

void TreePrefetch::lookUp(int folderFd, const char* name) {
    struct statx info;
    statx(folderFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info);
    lookedUp_.fetch_add(1, std::memory_order_relaxed);
}

// A look-up of an inode the kernel holds takes a microsecond or so; one that
// must first build it from the disk's inode table takes several, even where
// that table is already read (ext4 reads it ahead), and one that waits for the
// disk, hundreds. Where a sample of a folder's entries was held, the rest
// most likely is too, and looking it up ahead of the walk would only take a
// processor from it: on a warm cache the read-ahead costs little more than
// the folder's listing. Looks `name` up and tells whether that was fast.
bool TreePrefetch::lookUpIsCached(int folderFd, const char* name) {
    auto start = std::chrono::steady_clock::now();
    lookUp(folderFd, name);
    return std::chrono::steady_clock::now() - start < cachedLookUp_;
}

void TreePrefetch::keepPace() {
    uint64_t read = read_.fetch_add(1, std::memory_order_relaxed);
    while (!stop_ && read > posix::entriesListed.load(std::memory_order_relaxed) + lead_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

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
