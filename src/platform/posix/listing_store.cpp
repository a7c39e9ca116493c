#include "platform/posix/listing_store.h"

#include "platform/posix/anchor.h"

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

int64_t nanoseconds(const timespec& time) {
    return int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
}

timespec timeOf(int64_t nanoseconds) {
    int64_t seconds = nanoseconds / 1000000000, rest = nanoseconds % 1000000000;
    if (rest < 0) {  // before 1970: the remainder of a negative division is negative
        --seconds;
        rest += 1000000000;
    }
    return timespec{static_cast<time_t>(seconds), static_cast<long>(rest)};
}

ListedEntry ListedEntry::of(const FileStatus& status, uint32_t nameOffset) {
    return ListedEntry{nanoseconds(status.access),
                       nanoseconds(status.modification),
                       nanoseconds(status.creation),
                       nanoseconds(status.statusChange),
                       status.size,
                       status.device,
                       status.inode,
                       static_cast<uint32_t>(status.mode),
                       static_cast<uint32_t>(status.links),
                       static_cast<uint32_t>(status.owner),
                       static_cast<uint32_t>(status.group),
                       nameOffset};
}

FileStatus ListedEntry::unpacked() const {
    FileStatus status;
    status.mode = static_cast<mode_t>(mode);
    status.size = size;
    status.access = timeOf(access);
    status.modification = timeOf(modification);
    status.creation = timeOf(creation);
    status.statusChange = timeOf(statusChange);
    status.device = device;
    status.inode = inode;
    status.links = links;
    status.owner = static_cast<uid_t>(owner);
    status.group = static_cast<gid_t>(group);
    return status;
}

void FolderListing::add(const char* name, const FileStatus& status) {
    entries.push_back(ListedEntry::of(status, static_cast<uint32_t>(names.size())));
    names.append(name);
    names.push_back('\0');
}

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
    return withoutEndSeparators(folder.c_str());
}

bool ListingStore::startReading(const std::string& folder) {
    std::string key = listingKey(folder);
    std::lock_guard<std::mutex> lock(mutex_);
    if (listedByWalk_.erase(key) > 0) return false;
    reading_.emplace(std::move(key), ++started_);
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
    auto reading = reading_.find(key);
    if (reading == reading_.end()) return;  // not started through startReading
    listing.order = reading->second;
    reading_.erase(reading);
    if (fits(listing.entries.size())) {
        if (auto old = listings_.find(key); old != listings_.end()) forget(old);
        makeRoom(weight(listing));
        entries_ += weight(listing);
        order_.emplace(listing.order, key);
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
        wakeReaders();
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
        order_.erase(order);
    } else {
        forget(found);
    }
    return current;
}

void ListingStore::waitForWake(uint64_t seen, std::chrono::milliseconds longest) const {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    sleepers_.fetch_add(1);
    woken_.wait_for(lock, longest, [&] { return wakes_.load() != seen; });
    sleepers_.fetch_sub(1);
}

// The count moves before the sleepers are counted, and a sleeper is counted
// before it looks at the count: either the waker sees it, or it sees the wake.
void ListingStore::wakeReaders() const {
    wakes_.fetch_add(1);
    if (sleepers_.load() == 0) return;
    { std::lock_guard<std::mutex> lock(wakeMutex_); }
    woken_.notify_all();
}

bool ListingStore::empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listings_.empty();
}

void ListingStore::forget(std::unordered_map<std::string, FolderListing>::iterator listing) {
    entries_ -= weight(listing->second);
    order_.erase(listing->second.order);
    listings_.erase(listing);
}

// The listings whose readers started first make room: the walk has most
// likely passed them (a folder it leaves out, or listed itself while a reader
// was still on it).
void ListingStore::makeRoom(size_t needed) {
    while (entries_ + needed > capacity_ && !order_.empty())
        forget(listings_.find(order_.begin()->second));
}

}  // namespace posix
