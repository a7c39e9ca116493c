#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/listing_store.h"
#include "test_support.h"

namespace posix {
namespace {

FolderStamp stampNumber(uint64_t inode, long nanoseconds = 0) {
    FolderStamp stamp;
    stamp.device = 1;
    stamp.inode = inode;
    stamp.modification.tv_nsec = nanoseconds;
    return stamp;
}

FolderListing listingOf(const FolderStamp& stamp, std::initializer_list<const char*> names) {
    FolderListing listing;
    listing.stamp = stamp;
    for (const char* name : names) listing.add(name, FileStatus{});
    return listing;
}

// A reader's whole turn at one folder.
void keep(ListingStore& store, const std::string& folder, FolderListing listing) {
    ASSERT_TRUE(store.startReading(folder));
    store.put(folder, std::move(listing));
}

TEST(ListingStore, HandsAListingOutOnceAndOnlyForTheFolderAsItWasRead) {
    ListingStore store(100);
    keep(store, "tree/a/", listingOf(stampNumber(7), {"one", "two"}));
    keep(store, "tree/b", listingOf(stampNumber(8), {"three"}));
    keep(store, "tree/c", listingOf(stampNumber(9), {"four"}));

    FolderListing taken;
    ASSERT_TRUE(store.take("tree/a", stampNumber(7), taken));  // the key ignores end separators
    ASSERT_EQ(taken.entries.size(), 2u);
    EXPECT_STREQ(taken.nameOf(taken.entries[1]), "two");
    EXPECT_FALSE(store.take("tree/a", stampNumber(7), taken));

    // Another folder in its place, or the same one changed since: listed afresh,
    // and the listing kept is gone for good.
    EXPECT_FALSE(store.take("tree/b", stampNumber(80), taken));
    EXPECT_FALSE(store.take("tree/b", stampNumber(8), taken));
    EXPECT_FALSE(store.take("tree/c", stampNumber(9, 1), taken));
    EXPECT_TRUE(store.empty());
}

TEST(ListingStore, KeepsNoMoreThanItsCapacityAndMakesRoomFromTheOldest) {
    ListingStore store(40);  // listings of up to ten entries
    EXPECT_TRUE(store.fits(10));
    EXPECT_FALSE(store.fits(11));
    keep(store, "big", listingOf(stampNumber(1), {"1", "2", "3", "4", "5", "6", "7", "8",
                                                   "9", "10", "11"}));
    FolderListing taken;
    EXPECT_FALSE(store.take("big", stampNumber(1), taken));

    // Each listing weighs its entries and one more: 40 holds twenty of one.
    // When full, the listings whose readers started first make room.
    for (int i = 0; i < 25; ++i)
        keep(store, "f" + std::to_string(i), listingOf(stampNumber(i), {"x"}));
    EXPECT_TRUE(store.take("f24", stampNumber(24), taken));
    EXPECT_TRUE(store.take("f5", stampNumber(5), taken));
    EXPECT_FALSE(store.take("f4", stampNumber(4), taken));

    // The place is where the reader started, not where it ended: a folder
    // started early and done late (one the walk left out) still goes first.
    ListingStore small(11);
    ASSERT_TRUE(small.startReading("left out"));
    for (int i = 0; i < 10; ++i)
        keep(small, "g" + std::to_string(i), listingOf(stampNumber(i), {}));
    small.put("left out", listingOf(stampNumber(1), {}));
    keep(small, "g10", listingOf(stampNumber(10), {}));
    EXPECT_FALSE(small.take("left out", stampNumber(1), taken));
    EXPECT_TRUE(small.take("g0", stampNumber(0), taken));
    EXPECT_TRUE(small.take("g10", stampNumber(10), taken));
}

TEST(ListingStore, AFolderTheWalkListedItselfIsNotKeptAfterwards) {
    ListingStore store(100);
    FolderListing taken;
    EXPECT_FALSE(store.take("tree/late", stampNumber(3), taken));
    EXPECT_FALSE(store.startReading("tree/late/"));
    // Only once: the folder may be read again for a later walk.
    EXPECT_TRUE(store.startReading("tree/late"));
    store.drop("tree/late");
}

TEST(ListingStore, TheWalkWaitsForAFolderAReaderIsOn) {
    ListingStore store(100);
    ASSERT_TRUE(store.startReading("tree/busy"));
    FolderListing taken;
    bool handedOver = false;
    std::thread walk([&] { handedOver = store.take("tree/busy", stampNumber(5), taken); });
    // While it waits, the readers must not hold back for it.
    ASSERT_TRUE(eventually([&] { return store.walkWaits(); }));
    store.put("tree/busy", listingOf(stampNumber(5), {"done"}));
    walk.join();
    EXPECT_TRUE(handedOver);
    EXPECT_FALSE(store.walkWaits());

    // A reader that gives a folder up lets the walk go on to read it itself.
    ASSERT_TRUE(store.startReading("tree/given up"));
    std::thread second([&] { handedOver = store.take("tree/given up", stampNumber(6), taken); });
    ASSERT_TRUE(eventually([&] { return store.walkWaits(); }));
    store.drop("tree/given up");
    second.join();
    EXPECT_FALSE(handedOver);
}

// Longer than the checks' patience: a sleeper that ends sooner was woken.
constexpr std::chrono::seconds kLongSleep{90};

// A reader held back sleeps until the walk wakes it: as the walk moves on, or
// as it begins to wait for a folder a reader is on; a wake that came before
// the sleep began is not missed.
TEST(ListingStore, AReaderSleepingForTheWalkIsWokenByIt) {
    ListingStore store(100);
    std::atomic<int> woken{0};
    auto sleeper = [&](uint64_t seen) {
        return std::thread([&store, &woken, seen] {
            store.waitForWake(seen, kLongSleep);
            ++woken;
        });
    };

    const uint64_t beforeTheWake = store.wakeCount();
    store.wakeReaders();
    std::thread late = sleeper(beforeTheWake);
    EXPECT_TRUE(eventually([&] { return woken == 1; })) << "a wake before the sleep was missed";

    std::thread held = sleeper(store.wakeCount());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(woken, 1);
    store.wakeReaders();
    EXPECT_TRUE(eventually([&] { return woken == 2; })) << "the walk's wake was missed";

    ASSERT_TRUE(store.startReading("tree/busy"));
    std::thread resting = sleeper(store.wakeCount());
    FolderListing taken;
    std::thread walk([&] { store.take("tree/busy", stampNumber(5), taken); });
    EXPECT_TRUE(eventually([&] { return woken == 3; })) << "the walk waited with readers asleep";
    store.put("tree/busy", listingOf(stampNumber(5), {"done"}));
    for (std::thread* thread : {&late, &held, &resting, &walk}) thread->join();
}

TEST(ListingStore, AnEntryKeptPackedGivesBackWhatTheLookUpTold) {
    FileStatus status;
    status.mode = 0100640;
    status.size = (uint64_t{5} << 32) + 7;
    status.access = {1700000000, 999999999};
    status.modification = {-1, 500000000};  // half a second before 1970
    status.creation = {-86401, 0};
    status.statusChange = {0, 1};
    status.device = 0xFD01;
    status.inode = uint64_t{1} << 40;
    status.links = 3;
    status.owner = 1000;
    status.group = 4294967294u;
    FolderListing listing;
    listing.add("first", FileStatus{});
    listing.add("a longer name than fits in place", status);
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_STREQ(listing.nameOf(listing.entries[1]), "a longer name than fits in place");
    const FileStatus back = listing.entries[1].unpacked();
    EXPECT_EQ(back.mode, status.mode);
    EXPECT_EQ(back.size, status.size);
    for (auto [given, kept] : {std::pair{status.access, back.access},
                               std::pair{status.modification, back.modification},
                               std::pair{status.creation, back.creation},
                               std::pair{status.statusChange, back.statusChange}}) {
        EXPECT_EQ(kept.tv_sec, given.tv_sec);
        EXPECT_EQ(kept.tv_nsec, given.tv_nsec);
    }
    EXPECT_EQ(back.device, status.device);
    EXPECT_EQ(back.inode, status.inode);
    EXPECT_EQ(back.links, status.links);
    EXPECT_EQ(back.owner, status.owner);
    EXPECT_EQ(back.group, status.group);
}

}  // namespace
}  // namespace posix
