// Reads a tree's folders and entry metadata on background threads, ahead of
// the walk, so that the walk's own listings find the inodes in the cache.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tree_prefetch.h"

namespace posix {

// The count of entries the backend's listings have handed out, by which the
// read-ahead keeps its distance.
extern std::atomic<uint64_t> entriesListed;

}  // namespace posix

namespace platform {

class TreePrefetch {
public:
    // How far the read-ahead may run in front of the walk, in entries: enough
    // to keep the disk busy, little enough that what it read is still cached
    // when the walk gets there.
    static constexpr uint64_t kDefaultLead = 100000;

    // A look-up faster than this finds the inode cached (see prefetch.cpp).
    static constexpr std::chrono::nanoseconds kCachedLookUp{2000};

    explicit TreePrefetch(std::string root, uint64_t lead = kDefaultLead,
                          std::chrono::nanoseconds cachedLookUp = kCachedLookUp);
    ~TreePrefetch();
    TreePrefetch(const TreePrefetch&) = delete;
    TreePrefetch& operator=(const TreePrefetch&) = delete;

    // Returns once the whole tree has been read (or the read-ahead stopped).
    void waitUntilDone();
    uint64_t foldersRead() const { return foldersRead_.load(); }
    // Entries taken so far, the one held back for the walk among them.
    uint64_t entriesTaken() const { return read_.load(); }
    uint64_t entriesLookedUp() const { return lookedUp_.load(); }

private:
    void readFolders();
    // False once no folder is left and none is being read.
    bool takeFolder(std::string& folder);
    std::vector<std::string> readFolder(const std::string& folder);
    void keepPace();
    void lookUp(int folderFd, const char* name);
    bool lookUpIsCached(int folderFd, const char* name);

    static constexpr int kReaders = 4;
    const uint64_t lead_;
    const std::chrono::nanoseconds cachedLookUp_;
    std::atomic<uint64_t> lookedUp_{0};
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> read_{0};
    std::atomic<uint64_t> foldersRead_{0};
    int busy_ = 0;
    std::mutex mutex_;
    std::vector<std::string> pending_;
    std::vector<std::thread> readers_;
};

}  // namespace platform
