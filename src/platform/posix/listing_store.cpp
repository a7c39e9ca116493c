#include "platform/posix/listing_store.h"

namespace posix {

namespace {

constexpr size_t kMostMarks = 65536;

// A listing counts an entry more than it holds: empty folders fill the store too.
size_t weight(const FolderListing& listing) {
    return listing.entries.size() + 1;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

// Room for what four readers per tree keep in front of the walk, with slack
// for listings the walk never takes (filtered folders).
ListingStore readAheadListings(16384);

bool FolderStamp::operator==(const FolderStamp& other) const {
    return device == other.device && inode == other.inode &&
           sameTime(modification, other.modification) &&
           sameTime(statusChange, other.statusChange);
}

bool stampOfFolder(int fd, FolderStamp& stamp) {
    FileStatus status;
    if (!statusOfDescriptor(fd, status)) return false;
    stamp = FolderStamp{status.device, status.inode, status.modification, status.statusChange};
    return true;
}

std::string listingKey(const std::string& folder) {
    std::string key = folder;
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

bool ListingStore::startReading(const std::string& folder) {
    std::string key = listingKey(folder);
    std::lock_guard<std::mutex> lock(mutex_);
    if (listedByWalk_.erase(key) > 0) return false;
    reading_.insert(std::move(key));
    return true;
}

void ListingStore::drop(const std::string& folder) {
    std::string key = listingKey(folder);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reading_.erase(key);
    }
    readDone_.notify_all();
}

// A full store keeps nothing more: what it holds is what the walk comes to
// first.
void ListingStore::put(const std::string& folder, FolderListing&& listing) {
    std::string key = listingKey(folder);
    std::unique_lock<std::mutex> lock(mutex_);
    reading_.erase(key);
    if (entries_ + weight(listing) <= capacity_ && fits(listing.entries.size())) {
        if (auto old = listings_.find(key); old != listings_.end()) forget(old);
        listing.order = ++added_;
        entries_ += weight(listing);
        order_.emplace_back(key, listing.order);
        listings_.emplace(std::move(key), std::move(listing));
    }
    lock.unlock();
    readDone_.notify_all();
}

bool ListingStore::take(const std::string& folder, const FolderStamp& stamp,
                        FolderListing& listing) {
    std::string key = listingKey(folder);
    std::unique_lock<std::mutex> lock(mutex_);
    if (reading_.count(key) > 0) {
        walkWaits_ = true;
        readDone_.wait(lock, [&] { return reading_.count(key) == 0; });
        walkWaits_ = false;
    }
    auto found = listings_.find(key);
    if (found == listings_.end()) {
        // A folder a reader finished without keeping stays marked: the marks
        // are bounded rather than tracked.
        if (listedByWalk_.size() >= kMostMarks) listedByWalk_.clear();
        listedByWalk_.insert(std::move(key));
        return false;
    }
    const uint64_t order = found->second.order;
    const bool current = found->second.stamp == stamp;
    if (current) {
        entries_ -= weight(found->second);
        listing = std::move(found->second);
        listings_.erase(found);
    } else {
        forget(found);
    }
    forgetPassed(order);
    return current;
}

bool ListingStore::empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listings_.empty();
}

void ListingStore::forget(std::unordered_map<std::string, FolderListing>::iterator listing) {
    entries_ -= weight(listing->second);
    listings_.erase(listing);
}

// The readers keep listings in about the order the walk takes them, a few
// readers' worth apart: what was kept well before the listing just taken is
// for a folder the walk has passed (one it does not enter, or left out).
void ListingStore::forgetPassed(uint64_t taken) {
    constexpr uint64_t kSlack = 256;
    while (!order_.empty() && order_.front().second + kSlack < taken) {
        auto found = listings_.find(order_.front().first);
        if (found != listings_.end() && found->second.order == order_.front().second)
            forget(found);
        order_.pop_front();
    }
}

}  // namespace posix
