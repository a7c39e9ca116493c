// Reads a tree's folders and entry metadata on background threads, ahead of
// the walk, and hands the walk the listings it makes close in front of it; a
// folder too long to hand over is read far ahead on a cold cache, so that the
// walk's own listing finds its inodes in the cache.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/listing_store.h"
#include "platform/tree_prefetch.h"

namespace posix {

// What the read-ahead of one tree shares with the walk's listings below its
// root: the listings it read, and how far the walk has got.
struct ReadAheadShare {
    // The largest number of entries kept for the walk at once.
    static constexpr size_t kKeptEntries = 8192;
    // Readers held back are woken each time the walk has taken this many
    // entries more: a sixteenth of the hand-over lead, so that a reader
    // woken is still well in front of the walk.
    static constexpr uint64_t kWakeReadersEvery = 256;

    explicit ReadAheadShare(const std::string& rootFolder)
        : root(listingKey(rootFolder)), listings(kKeptEntries) {}
    bool covers(const std::string& folderKey) const;

    const std::string root;  // as listingKey gives it
    ListingStore listings;
    std::atomic<uint64_t> entriesWalked{0};  // entries the walk's listings handed out
    // False while many look-ups are slow: all the readers then read, through
    // folders they keep no listing of as far ahead as their lead allows, and
    // the data of files about to be copied is asked for ahead.
    std::atomic<bool> cacheWarm{true};
};

// The share of the read-ahead whose tree holds the folder `folderKey`, or null.
std::shared_ptr<ReadAheadShare> readAheadCovering(const std::string& folderKey);

}  // namespace posix

namespace platform {

class TreePrefetch {
public:
    // How far the read-ahead may run in front of the walk, in entries: enough
    // to keep the disk busy, little enough that what it read is still cached
    // when the walk gets there.
    static constexpr uint64_t kDefaultLead = 100000;

    // While a reader keeps a listing for the walk, and while the cache is
    // warm, the readers stay this many entries in front of the walk.
    static constexpr uint64_t kHandOverLead = 4096;

    // A look-up faster than this finds the inode cached (see prefetch.cpp).
    static constexpr std::chrono::nanoseconds kCachedLookUp{2000};

    enum class HandOver { Listings, Nothing };

    explicit TreePrefetch(std::string root, uint64_t lead = kDefaultLead,
                          std::chrono::nanoseconds cachedLookUp = kCachedLookUp,
                          HandOver handOver = HandOver::Listings);
    // Reads `root` in step with the walk of `pacedBy`'s tree, keeping no
    // listings: the walk never lists this one.
    TreePrefetch(std::string root, const TreePrefetch& pacedBy, uint64_t lead = kDefaultLead);
    ~TreePrefetch();
    TreePrefetch(const TreePrefetch&) = delete;
    TreePrefetch& operator=(const TreePrefetch&) = delete;

    // Returns once the whole tree has been read (or the read-ahead stopped).
    void waitUntilDone();
    uint64_t foldersRead() const { return foldersRead_.load(); }
    uint64_t foldersReadBy(int reader) const { return foldersReadBy_[reader].load(); }
    // Entries taken so far, the one held back for the walk among them.
    uint64_t entriesTaken() const { return read_.load(); }
    uint64_t entriesLookedUp() const { return lookedUp_.load(); }
    const std::shared_ptr<posix::ReadAheadShare>& share() const { return share_; }

private:
    struct PendingFolder {
        std::vector<uint32_t> place;  // listing indices of the folders on its path
        std::string path;
    };
    static bool comesLater(const PendingFolder& a, const PendingFolder& b);

    TreePrefetch(std::string root, uint64_t lead, std::chrono::nanoseconds cachedLookUp,
                 HandOver handOver, std::shared_ptr<const posix::ReadAheadShare> pace);

    void readFolders(int reader);
    bool restsWhileWarm(int reader);
    // False once no folder is left and none is being read.
    bool takeFolder(PendingFolder& folder);
    std::vector<std::string> readFolder(const std::string& folder);
    // keepable: the folder being read is still short enough to be kept.
    void keepPace(bool keepable);
    void stopReaders();
    void countSample(bool fast);
    bool nearTheWalk() const;
    void lookUp(int folderFd, const char* name);
    bool lookUpIsCached(int folderFd, const char* name);
    bool keepEntry(int folderFd, const char* name, bool sampled, posix::FolderListing& listing);
    void handOver(int folderFd, const std::string& folder, posix::FolderListing&& listing);

    static constexpr int kReaders = 4;
    // A reader held back looks again after this long at the latest, whether
    // or not the walk woke it: the cache may have turned.
    static constexpr std::chrono::milliseconds kLongestSleep{10};
    static constexpr int kWarmReaders = 2;
    const uint64_t lead_;
    const std::chrono::nanoseconds cachedLookUp_;
    const bool handsOver_;
    static constexpr uint64_t kSamplesToJudge = 16;
    std::atomic<uint64_t> samples_{0};
    std::atomic<uint64_t> slowSamples_{0};
    std::shared_ptr<posix::ReadAheadShare> share_;
    // The share whose walk the readers keep pace with: their own, or another
    // tree's.
    std::shared_ptr<const posix::ReadAheadShare> pace_;
    std::atomic<uint64_t> lookedUp_{0};
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> read_{0};
    std::atomic<uint64_t> foldersRead_{0};
    std::array<std::atomic<uint64_t>, kReaders> foldersReadBy_{};
    int busy_ = 0;
    std::mutex mutex_;
    std::vector<PendingFolder> pending_;  // a heap: the first in the walk's order on top
    std::vector<std::thread> readers_;
};

}  // namespace platform
