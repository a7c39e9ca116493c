// Folder listings read ahead of the walk, handed over to its own listing of
// the same folder so that the walk's thread looks no entry up itself.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
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

// What a look-up told of one entry, packed: the store holds thousands.
struct ListedEntry {
    static ListedEntry of(const FileStatus& status, uint32_t nameOffset);
    FileStatus unpacked() const;

    int64_t access, modification, creation, statusChange;  // nanoseconds since 1970
    uint64_t size, device, inode;
    uint32_t mode, links, owner, group;
    uint32_t nameOffset;  // into the listing's names
};

struct FolderListing {
    void add(const char* name, const FileStatus& status);
    const char* nameOf(const ListedEntry& entry) const { return names.c_str() + entry.nameOffset; }

    FolderStamp stamp;   // taken before the folder was read, and again after
    std::vector<ListedEntry> entries;
    std::string names;  // every entry's, each ending in a NUL
    uint64_t order = 0;  // when its reader started, among the others
};

// The key a folder's path is kept under: without separators at its end.
std::string listingKey(const std::string& folder);

// Holds at most `capacity` entries (and folders); when full, the listings
// whose readers started first make room. Each listing is handed out once,
// and only for the folder it was read from, unchanged since.
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

    // Readers held back in front of the walk sleep until it wakes them (as it
    // moves on, or begins to wait for one of them), or `longest` has passed:
    // on a virtual machine each wake costs tens of microseconds, and four
    // readers polling every millisecond took a tenth of a cold copy's time.
    // `seen` is wakeCount() read before the reader found it must wait, so
    // that a wake in between is not missed.
    uint64_t wakeCount() const { return wakes_.load(); }
    void waitForWake(uint64_t seen, std::chrono::milliseconds longest) const;
    void wakeReaders() const;
    bool empty() const;

private:
    void forget(std::unordered_map<std::string, FolderListing>::iterator listing);
    void makeRoom(size_t needed);

    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable readDone_;
    std::atomic<bool> walkWaits_{false};
    mutable std::mutex wakeMutex_;
    mutable std::condition_variable woken_;
    mutable std::atomic<uint64_t> wakes_{0};
    mutable std::atomic<int> sleepers_{0};
    size_t entries_ = 0;  // guarded by mutex_, as all below
    uint64_t started_ = 0;
    // Folders being read, with their place in the order readers started them.
    std::unordered_map<std::string, uint64_t> reading_;
    // Folders the walk listed before a reader got to them; a reader that
    // comes to one takes its key out.
    std::unordered_set<std::string> listedByWalk_;
    std::unordered_map<std::string, FolderListing> listings_;
    // The keys of the listings kept, by the order their readers started.
    std::map<uint64_t, std::string> order_;
};

// The store the read-ahead fills and the backend's listings take from.
extern ListingStore readAheadListings;

}  // namespace posix
