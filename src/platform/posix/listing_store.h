// Folder listings read ahead of the walk, handed over to its own listing of
// the same folder so that the walk's thread looks no entry up itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/file_status.h"

namespace posix {

// What tells a folder, and whether an entry was added, removed or renamed in
// it: the kernel gives a folder new times for each such change.
struct FolderStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    timespec modification{};
    timespec statusChange{};

    bool operator==(const FolderStamp& other) const;
};
bool stampOfFolder(int fd, FolderStamp& stamp);

struct ListedEntry {
    std::string name;
    FileStatus status;
};

struct FolderListing {
    FolderStamp stamp;  // taken before the folder was read, and again after
    std::vector<ListedEntry> entries;
    uint64_t order = 0;  // the store's own count, for its oldest-first eviction
};

// The key a folder's path is kept under: without separators at its end.
std::string listingKey(const std::string& folder);

// Holds at most `capacity` entries (and folders). Each listing is handed out once, and
// only for the folder it was read from, unchanged since.
class ListingStore {
public:
    explicit ListingStore(size_t capacity) : capacity_(capacity) {}

    // Whether a listing of `entries` entries may be kept at all.
    bool fits(size_t entries) const { return entries <= capacity_ / 4; }

    // A reader starts on `folder`: false when the walk has listed it already
    // (a listing kept now would never be taken). Each start ends in put or
    // drop.
    bool startReading(const std::string& folder);
    void put(const std::string& folder, FolderListing&& listing);
    void drop(const std::string& folder);

    // The listing of `folder`, when one is kept and was read from the folder
    // that now has `stamp`; a listing that does not match is dropped. Waits
    // while a reader is on the folder; false when none has been or is, and
    // the folder is then marked as listed by the walk.
    bool take(const std::string& folder, const FolderStamp& stamp, FolderListing& listing);
    // While true, the walk waits for a reader: none may hold back for it.
    bool walkWaits() const { return walkWaits_.load(std::memory_order_relaxed); }
    bool empty() const;

private:
    void forget(std::unordered_map<std::string, FolderListing>::iterator listing);
    void forgetPassed(uint64_t taken);

    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable readDone_;
    std::atomic<bool> walkWaits_{false};
    size_t entries_ = 0;  // guarded by mutex_, as all below
    std::unordered_set<std::string> reading_;
    // Folders the walk listed before a reader got to them; a reader that
    // comes to one takes its key out.
    std::unordered_set<std::string> listedByWalk_;
    std::unordered_map<std::string, FolderListing> listings_;
    uint64_t added_ = 0;
    // Keys by age, with each listing's order: a pair may name a listing
    // taken already (or one kept again since under the same key).
    std::deque<std::pair<std::string, uint64_t>> order_;
};

// The store the read-ahead fills and the backend's listings take from.
extern ListingStore readAheadListings;

}  // namespace posix
