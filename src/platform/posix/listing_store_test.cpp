#include <gtest/gtest.h>
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
    for (const char* name : names) listing.entries.push_back(ListedEntry{name, {}});
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
    EXPECT_EQ(taken.entries[1].name, "two");
    EXPECT_FALSE(store.take("tree/a", stampNumber(7), taken));

    // Another folder in its place, or the same one changed since: listed afresh,
    // and the listing kept is gone for good.
    EXPECT_FALSE(store.take("tree/b", stampNumber(80), taken));
    EXPECT_FALSE(store.take("tree/b", stampNumber(8), taken));
    EXPECT_FALSE(store.take("tree/c", stampNumber(9, 1), taken));
    EXPECT_TRUE(store.empty());
}

TEST(ListingStore, KeepsNoMoreThanItsCapacityAndForgetsWhatTheWalkPassed) {
    ListingStore store(40);  // listings of up to ten entries
    EXPECT_TRUE(store.fits(10));
    EXPECT_FALSE(store.fits(11));
    keep(store, "big", listingOf(stampNumber(1), {"1", "2", "3", "4", "5", "6", "7", "8",
                                                   "9", "10", "11"}));
    FolderListing taken;
    EXPECT_FALSE(store.take("big", stampNumber(1), taken));

    // Each listing weighs its entries and one more: 40 holds twenty of one.
    for (int i = 0; i < 25; ++i)
        keep(store, "f" + std::to_string(i), listingOf(stampNumber(i), {"x"}));
    EXPECT_TRUE(store.take("f19", stampNumber(19), taken));
    EXPECT_FALSE(store.take("f20", stampNumber(20), taken));

    // A folder the walk never asks for (one it leaves out) goes once the walk
    // is far past it.
    ListingStore roomy(100000);
    keep(roomy, "left out", listingOf(stampNumber(1), {}));
    for (int i = 0; i < 300; ++i)
        keep(roomy, "g" + std::to_string(i), listingOf(stampNumber(i), {}));
    EXPECT_TRUE(roomy.take("g299", stampNumber(299), taken));
    EXPECT_FALSE(roomy.take("left out", stampNumber(1), taken));
    EXPECT_TRUE(roomy.take("g200", stampNumber(200), taken));
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

}  // namespace
}  // namespace posix
