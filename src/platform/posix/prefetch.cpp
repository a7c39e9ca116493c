// On a cold cache a walk waits for one inode read after another; with the
// source and the target each read ahead on threads of their own, those reads
// overlap. The readers keep the listings they make close in front of the
// walk, and the walk takes them instead of reading the folders again: on a
// warm cache its own thread is the bottleneck, and on a cold one each entry
// is then looked up once, not by a reader and again by the walk. Nothing is
// changed: a name that vanishes or cannot be read is passed over.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/anchor.h"
#include "platform/posix/prefetch.h"
#include "platform/tree_prefetch.h"

namespace posix {

namespace {

std::mutex sharesLock;
// Guarded by sharesLock. Never destroyed: a worker that is still stopping
// its read-ahead while the process exits (after Cancel) must find it.
std::vector<std::shared_ptr<ReadAheadShare>>& shares =
    *new std::vector<std::shared_ptr<ReadAheadShare>>;

void addShare(const std::shared_ptr<ReadAheadShare>& share) {
    std::lock_guard<std::mutex> lock(sharesLock);
    shares.push_back(share);
}

void removeShare(const std::shared_ptr<ReadAheadShare>& share) {
    std::lock_guard<std::mutex> lock(sharesLock);
    std::erase(shares, share);
}

}  // namespace

// "." is the folder the walk's relative paths start from.
bool ReadAheadShare::covers(const std::string& folderKey) const {
    if (root == ".") return folderKey.empty() || folderKey[0] != '/';
    if (folderKey.compare(0, root.size(), root) != 0) return false;
    return folderKey.size() == root.size() || root.back() == '/' ||
           folderKey[root.size()] == '/';
}

std::shared_ptr<ReadAheadShare> readAheadCovering(const std::string& folderKey) {
    std::lock_guard<std::mutex> lock(sharesLock);
    std::shared_ptr<ReadAheadShare> closest;
    for (const auto& share : shares)
        if (share->covers(folderKey) && (!closest || share->root.size() > closest->root.size()))
            closest = share;
    return closest;
}

}  // namespace posix

namespace {

bool isFolderEntry(int folderFd, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat status;
    return fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode);
}

// Every so many entries' look-up is timed, to tell a warm cache from a cold one.
constexpr unsigned kSampleStride = 8;

bool isDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

namespace platform {

TreePrefetch::TreePrefetch(std::string root, uint64_t lead,
                           std::chrono::nanoseconds cachedLookUp, HandOver handOver)
    : TreePrefetch(std::move(root), lead, cachedLookUp, handOver, nullptr) {}

TreePrefetch::TreePrefetch(std::string root, const TreePrefetch& pacedBy, uint64_t lead)
    : TreePrefetch(std::move(root), lead, kCachedLookUp, HandOver::Nothing, pacedBy.share_) {}

TreePrefetch::TreePrefetch(std::string root, uint64_t lead,
                           std::chrono::nanoseconds cachedLookUp, HandOver handOver,
                           std::shared_ptr<const posix::ReadAheadShare> pace)
    : lead_(lead),
      cachedLookUp_(cachedLookUp),
      handsOver_(handOver == HandOver::Listings),
      share_(std::make_shared<posix::ReadAheadShare>(root)),
      pace_(pace ? std::move(pace) : share_),
      pending_{PendingFolder{{}, std::move(root)}} {
    posix::addShare(share_);
    try {
        for (int i = 0; i < kReaders; ++i) readers_.emplace_back([this, i] { readFolders(i); });
    } catch (...) {
        // The readers already started must not outlive a half-built object.
        stopReaders();
        posix::removeShare(share_);
        throw;
    }
}

TreePrefetch::~TreePrefetch() {
    stopReaders();
    posix::removeShare(share_);
}

void TreePrefetch::stopReaders() {
    stop_ = true;
    share_->listings.wakeReaders();
    pace_->listings.wakeReaders();
    waitUntilDone();
}

void TreePrefetch::waitUntilDone() {
    for (std::thread& reader : readers_)
        if (reader.joinable()) reader.join();
}

// Several readers keep several inode reads in flight. They take the folder
// that comes first in the walk's order (depth first, subfolders in listing
// order), so that what they keep is what the walk asks for next.
void TreePrefetch::readFolders(int reader) {
    PendingFolder folder;
    while (!stop_) {
        if (restsWhileWarm(reader)) {
            // Looking every millisecond keeps the second processor awake for
            // the walk's other threads: resting for 10 ms at a time, or until
            // the cache turned cold, made a warm walk of 1 000 000 entries
            // take 1.05 of its time.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (!takeFolder(folder)) break;
        if (folder.path.empty()) {
            // Others are still reading folders that may hold more.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        std::vector<std::string> children = readFolder(folder.path);
        foldersRead_.fetch_add(1);
        foldersReadBy_[reader].fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex_);
        for (uint32_t i = 0; i < children.size(); ++i) {
            PendingFolder child{folder.place, std::move(children[i])};
            child.place.push_back(i);
            pending_.push_back(std::move(child));
            std::push_heap(pending_.begin(), pending_.end(), comesLater);
        }
        --busy_;
    }
}

// On a warm cache two readers keep well ahead of the walk, and more only
// take processor time from it (a no-change walk of 100 000 files took 0.35 s
// with four, 0.29 s with two); on a cold one four keep more inode reads in
// flight (0.94 s against 1.2 s). The others rest while the samples find the
// cache warm, unless the tree is read.
bool TreePrefetch::restsWhileWarm(int reader) {
    if (reader < kWarmReaders || !share_->cacheWarm.load(std::memory_order_relaxed)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return !pending_.empty() || busy_ > 0;
}

bool TreePrefetch::comesLater(const PendingFolder& a, const PendingFolder& b) {
    return a.place > b.place;
}

bool TreePrefetch::takeFolder(PendingFolder& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    folder.path.clear();
    if (pending_.empty()) return busy_ > 0;
    std::pop_heap(pending_.begin(), pending_.end(), comesLater);
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
    posix::FolderListing kept;
    bool keeping = nearTheWalk() && share_->listings.startReading(folder);
    // Given up at the first entry that cannot be kept: the walk, which may be
    // waiting for this listing, then reads the folder itself.
    auto giveUp = [&] {
        if (!keeping) return;
        keeping = false;
        kept = {};
        share_->listings.drop(folder);
    };
    if (keeping && !posix::stampOfFolder(fd, kept.stamp)) giveUp();
    // Where a listing is not kept, every kSampleStride-th entry is looked up
    // and timed, and the others only while a quarter or more of those were
    // slow: a busy processor slows a cached look-up now and then, and one
    // such sample must not set the reader to look up a large folder the walk
    // will find cached anyway.
    unsigned samples = 0, slowSamples = 0;
    errno = 0;
    for (unsigned index = 0; const dirent* entry = readdir(listing); errno = 0) {
        if (stop_) break;
        // Counted as the walk's listings count them: dot entries too.
        keepPace(share_->listings.fits(index + 1));
        if (isDots(entry->d_name)) {
            // The walk's own listing hands them out too.
            if (keeping && !keepEntry(fd, entry->d_name, false, kept)) giveUp();
            continue;
        }
        if (keeping) {
            if (!keepEntry(fd, entry->d_name, index++ % kSampleStride == 0, kept)) giveUp();
        } else if (index++ % kSampleStride == 0) {
            ++samples;
            const bool fast = lookUpIsCached(fd, entry->d_name);
            if (!fast) ++slowSamples;
            // A tree whose listings are never kept judges its cache here.
            if (!handsOver_) countSample(fast);
        } else if (slowSamples * 4 > samples) {
            lookUp(fd, entry->d_name);
        }
        if (isFolderEntry(fd, entry)) children.push_back(prefix + entry->d_name);
    }
    if (errno != 0 || stop_) giveUp();
    if (keeping) handOver(fd, folder, std::move(kept));
    closedir(listing);
    return children;
}

// A listing is kept only close in front of the walk: one far ahead (where
// the readers ran through a folder too long to keep, on a cold cache) would
// be held long, and the walk is in no hurry for it there.
bool TreePrefetch::nearTheWalk() const {
    return handsOver_ && read_.load(std::memory_order_relaxed) <=
                             share_->entriesWalked.load(std::memory_order_relaxed) + kHandOverLead;
}

// Looks `name` up for the listing kept for the walk, timing the look-up
// where it is `sampled`; false when the folder's listing cannot be kept: it
// grew too long, or an entry could not be looked up (the walk's own listing
// reports that), or a file has other names: the walk may change such a file
// through a name in another folder, and this folder's times would not show it.
bool TreePrefetch::keepEntry(int folderFd, const char* name, bool sampled,
                             posix::FolderListing& listing) {
    if (!share_->listings.fits(listing.entries.size() + 1)) return false;
    posix::FileStatus status;
    const auto start =
        sampled ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    const bool found = posix::statusInFolder(folderFd, name, status);
    lookedUp_.fetch_add(1, std::memory_order_relaxed);
    if (sampled) countSample(std::chrono::steady_clock::now() - start < cachedLookUp_);
    if (!found) return errno == ENOENT;  // gone since the folder was read: passed over
    if (!S_ISDIR(status.mode) && status.links > 1) return false;
    listing.add(name, status);
    return true;
}

// Keeps the listing only when nothing was added, removed or renamed in the
// folder while it was read.
void TreePrefetch::handOver(int folderFd, const std::string& folder,
                            posix::FolderListing&& listing) {
    posix::FolderStamp after;
    if (!posix::stampOfFolder(folderFd, after) || !(after == listing.stamp))
        return share_->listings.drop(folder);
    // Kept a while: without the room they grew into.
    listing.entries.shrink_to_fit();
    listing.names.shrink_to_fit();
    share_->listings.put(folder, std::move(listing));
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

// A busy processor makes a look-up of a cached inode slow now and then: the
// cache counts as cold only where a good share of the samples were slow.
void TreePrefetch::countSample(bool fast) {
    const uint64_t samples = samples_.fetch_add(1, std::memory_order_relaxed) + 1;
    const uint64_t slow = fast ? slowSamples_.load(std::memory_order_relaxed)
                               : slowSamples_.fetch_add(1, std::memory_order_relaxed) + 1;
    share_->cacheWarm.store(samples < kSamplesToJudge || slow * 4 <= samples,
                            std::memory_order_relaxed);
}

// Where the walk takes listings, the readers stay close in front of it on
// any cache, so that they keep the listings of the folders they read: none is
// kept far ahead, and the walk would look all its entries up again (a cold
// no-change walk of 100 000 files took 0.96 s so, against 0.81 s). Through a
// folder too long to keep, on a cold cache, they run far ahead, so that the
// walk's own look-ups find the inodes read.
void TreePrefetch::keepPace(bool keepable) {
    uint64_t read = read_.fetch_add(1, std::memory_order_relaxed);
    auto lead = [this, keepable] {
        const bool close =
            handsOver_ && (keepable || share_->cacheWarm.load(std::memory_order_relaxed));
        return close ? std::min(lead_, kHandOverLead) : lead_;
    };
    for (;;) {
        const uint64_t seen = pace_->listings.wakeCount();
        if (stop_ || share_->listings.walkWaits() ||
            read <= pace_->entriesWalked.load(std::memory_order_relaxed) + lead())
            return;
        pace_->listings.waitForWake(seen, kLongestSleep);
    }
}

TreePrefetch* startTreePrefetch(const char* folder, const TreePrefetch* pacedBy) {
    if (folder == nullptr || folder[0] == '\0') return nullptr;
    try {
        return pacedBy != nullptr ? new TreePrefetch(folder, *pacedBy) : new TreePrefetch(folder);
    } catch (...) {
        return nullptr;  // no thread, no read-ahead: the walk is only slower
    }
}

void stopTreePrefetch(TreePrefetch* prefetch) { delete prefetch; }

namespace {

// Whether the first byte of an open file is already in memory: a read that
// must not wait tells, without touching the access time where the open
// could keep it. A read that would set it says nothing.
bool startIsCached(int file, bool keepsAccessTime) {
    if (!keepsAccessTime) return false;
    char byte;
    iovec start{&byte, 1};
    return preadv2(file, &start, 1, 0, RWF_NOWAIT) == 1;
}

int openToAdvise(int folder, const char* name, bool& keepsAccessTime) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int file = openat(folder, name, kFlags | O_NOATIME);
    keepsAccessTime = file >= 0;
    return file >= 0 || errno != EPERM ? file : openat(folder, name, kFlags);
}

}  // namespace

// One file after the other, a copy waits for each file's first blocks in
// turn; asked for together, they come in at the disk's pace. Only regular
// files are opened, as for a copy: never a link, a FIFO or a device. The
// samples that judge a tree's cache time inode look-ups, which a busy
// processor slows: where two files in a row already hold their first bytes,
// the folder's files are taken to be in memory and asked for no further
// (a warm verify otherwise asked for every file of its tree).
void expectReads(const char* folder, const std::vector<const char*>& names) {
    constexpr off_t kMostAhead = 64 << 20;
    constexpr off_t kMostPerFile = 8 << 20;  // the start a copy's own open asks for
    constexpr int kCachedToStop = 2;
    if (names.size() < 2) return;
    std::string folderPath(folder);
    std::shared_ptr<posix::ReadAheadShare> share =
        posix::readAheadCovering(posix::listingKey(folderPath));
    if (!share || share->cacheWarm.load(std::memory_order_relaxed)) return;
    int fd = posix::openFolderToList(folderPath.c_str());
    if (fd < 0) return;
    off_t asked = 0;
    int cachedInARow = 0;
    for (const char* name : names) {
        struct stat status;
        if (fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode) ||
            status.st_size == 0)
            continue;
        bool keepsAccessTime = false;
        int file = openToAdvise(fd, name, keepsAccessTime);
        if (file < 0) continue;
        const off_t length = std::min<off_t>(status.st_size, kMostPerFile);
        const bool cached = startIsCached(file, keepsAccessTime);
        if (!cached) posix_fadvise(file, 0, length, POSIX_FADV_WILLNEED);
        close(file);
        cachedInARow = cached ? cachedInARow + 1 : 0;
        if (!cached) asked += length;
        if (cachedInARow == kCachedToStop || asked >= kMostAhead) break;
    }
    close(fd);
}

}  // namespace platform
