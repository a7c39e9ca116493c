#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <memory>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/prefetch.h"
#include "platform/posix/scratch_folder.h"
#include "platform/tree_prefetch.h"
#include "test_support.h"

namespace platform {
namespace {

using posix::ScratchFolder;

// The read-ahead may run as far as it likes.
constexpr uint64_t kNoLimit = uint64_t{1} << 40;

TEST(TreePrefetch, ReadsEveryFolderOfTheTreeButNoneOutsideIt) {
    ScratchFolder outside;
    outside.folder("elsewhere");
    outside.folder("elsewhere/deeper");
    ScratchFolder scratch;
    scratch.folder("tree");
    scratch.file("tree/top.txt", "x");
    for (const char* sub : {"tree/a", "tree/a/b", "tree/a/b/c", "tree/d", "tree/e"})
        scratch.folder(sub);
    scratch.file("tree/a/b/c/leaf", "y");
    // Neither a link to a folder nor a loop is followed.
    scratch.link("tree/d/away", outside.path("elsewhere"));
    scratch.link("tree/d/loop", scratch.path("tree"));

    TreePrefetch prefetch(scratch.path("tree"), kNoLimit);
    prefetch.waitUntilDone();
    EXPECT_EQ(prefetch.foldersRead(), 6u);  // tree and its five folders
}

// Where samples find the cache warm only they are looked up; where they are
// slow, every entry of the folder is.
TEST(TreePrefetch, LooksUpEveryEntryOnlyWhereTheSamplesWereSlow) {
    ScratchFolder scratch;
    scratch.folder("tree");
    for (int i = 0; i < 20; ++i) scratch.file("tree/f" + std::to_string(i), "x");

    TreePrefetch warm(scratch.path("tree"), kNoLimit, std::chrono::hours(1),
                      TreePrefetch::HandOver::Nothing);
    warm.waitUntilDone();
    EXPECT_EQ(warm.entriesLookedUp(), 3u);  // entries 0, 8 and 16

    TreePrefetch cold(scratch.path("tree"), kNoLimit, std::chrono::nanoseconds(0),
                      TreePrefetch::HandOver::Nothing);
    cold.waitUntilDone();
    EXPECT_EQ(cold.entriesLookedUp(), 20u);
}

// The cache's state decides how many readers work and whether a verify asks
// for its files' first blocks: a tree that keeps no listings judges it by
// the samples it takes.
TEST(TreePrefetch, ATreeThatKeepsNoListingsJudgesItsCacheByItsSamples) {
    ScratchFolder scratch;
    scratch.folder("tree");
    for (int i = 0; i < 200; ++i) scratch.file("tree/f" + std::to_string(i), "x");
    TreePrefetch warm(scratch.path("tree"), kNoLimit, std::chrono::hours(1),
                      TreePrefetch::HandOver::Nothing);
    warm.waitUntilDone();
    EXPECT_TRUE(warm.share()->cacheWarm.load());
    TreePrefetch cold(scratch.path("tree"), kNoLimit, std::chrono::nanoseconds(0),
                      TreePrefetch::HandOver::Nothing);
    cold.waitUntilDone();
    EXPECT_FALSE(cold.share()->cacheWarm.load());
}

// While the samples find the cache warm two readers do the reading, and the
// others rest; where they find it cold, the others take part too.
TEST(TreePrefetch, OnlyTwoReadersWorkWhileTheCacheIsWarm) {
    ScratchFolder scratch;
    scratch.folder("tree");
    for (int i = 0; i < 60; ++i) {
        const std::string folder = "tree/d" + std::to_string(i);
        scratch.folder(folder);
        for (int j = 0; j < 30; ++j) scratch.file(folder + "/f" + std::to_string(j), "x");
    }
    TreePrefetch warm(scratch.path("tree"), kNoLimit, std::chrono::hours(1),
                      TreePrefetch::HandOver::Nothing);
    warm.waitUntilDone();
    EXPECT_EQ(warm.foldersRead(), 61u);
    EXPECT_EQ(warm.foldersReadBy(2) + warm.foldersReadBy(3), 0u);

    // Every sample is slow: the cache counts as cold after the first few,
    // and the resting readers join in. The walk, which lists nothing here,
    // holds the readers back until each of the four waits for it inside a
    // folder it took; on a single busy processor the two working readers
    // would otherwise read the whole tree before the others wake.
    constexpr uint64_t kLead = 300;
    auto cold = std::make_unique<TreePrefetch>(scratch.path("tree"), kLead,
                                               std::chrono::nanoseconds(0),
                                               TreePrefetch::HandOver::Listings);
    // Entries 0 to kLead go; each reader waiting holds one more.
    EXPECT_TRUE(eventually([&] { return cold->entriesTaken() >= kLead + 1 + 4; }))
        << "taken: " << cold->entriesTaken();
    cold->share()->entriesWalked = kNoLimit;
    cold->waitUntilDone();
    EXPECT_EQ(cold->foldersRead(), 61u);
    EXPECT_GT(cold->foldersReadBy(2), 0u);
    EXPECT_GT(cold->foldersReadBy(3), 0u);
}

// Names of one file, which take no inode each: a test tree of thousands of
// entries made in milliseconds.
void addNames(const ScratchFolder& scratch, const std::string& folder, int count) {
    const std::string file = scratch.file(folder + "/0", "");
    for (int i = 1; i < count; ++i)
        ASSERT_EQ(link(file.c_str(), scratch.path(folder + "/" + std::to_string(i)).c_str()), 0);
}

// Where the walk takes listings, the readers stay close in front of it on a
// cold cache too, reading only folders short enough to keep; through a folder
// too long to keep they run as far ahead as their lead allows.
TEST(TreePrefetch, OnAColdCacheOnlyAFolderTooLongToKeepIsReadFarAhead) {
    constexpr uint64_t kReaders = 4;
    ScratchFolder scratch;
    scratch.folder("tree");
    for (int i = 0; i < 120; ++i) {
        scratch.folder("tree/d" + std::to_string(i));
        addNames(scratch, "tree/d" + std::to_string(i), 50);
    }
    auto cold = std::make_unique<TreePrefetch>(scratch.path("tree"), kNoLimit,
                                               std::chrono::nanoseconds(0));
    const uint64_t close = TreePrefetch::kHandOverLead + 1 + kReaders;
    ASSERT_TRUE(eventually([&] { return cold->entriesTaken() >= close - kReaders; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(cold->share()->cacheWarm.load());
    EXPECT_LE(cold->entriesTaken(), close) << "of " << 120 * 53 + 2;
    cold->share()->entriesWalked = kNoLimit;
    cold.reset();

    // Files of their own here: a file with other names ends the listing kept
    // at once, and with it the samples that tell the cache cold.
    scratch.folder("flat");
    for (uint64_t i = 0; i < TreePrefetch::kHandOverLead + 64; ++i)
        scratch.file("flat/f" + std::to_string(i), "");
    TreePrefetch flat(scratch.path("flat"), kNoLimit, std::chrono::nanoseconds(0));
    EXPECT_TRUE(eventually([&] { return flat.foldersRead() == 1; }))
        << "taken: " << flat.entriesTaken();
}

TEST(TreePrefetch, PassesOverWhatItCannotRead) {
    ScratchFolder scratch;
    scratch.folder("tree");
    scratch.folder("tree/open");
    scratch.folder("tree/closed", 0);
    scratch.folder("tree/open/inner");

    TreePrefetch prefetch(scratch.path("tree"), kNoLimit);
    prefetch.waitUntilDone();
    // The closed folder counts as visited, whether or not root could list it.
    EXPECT_EQ(prefetch.foldersRead(), 4u);

    TreePrefetch missing(scratch.path("no such folder"), kNoLimit);
    missing.waitUntilDone();
    EXPECT_EQ(missing.foldersRead(), 1u);
}

TEST(TreePrefetch, StopsPromptlyWhenItIsAheadOfTheWalk) {
    ScratchFolder scratch;
    scratch.folder("tree");
    for (int i = 0; i < 50; ++i) scratch.folder("tree/f" + std::to_string(i));
    // The walk lists nothing and the root holds more entries than the
    // read-ahead may lead by: it holds back, and stopping must end the wait.
    auto prefetch = std::make_unique<TreePrefetch>(scratch.path("tree"), 10);
    // Ten entries in front of the walk, the eleventh waits: twelve taken,
    // and the root not read to its end.
    ASSERT_TRUE(eventually([&] { return prefetch->entriesTaken() >= 12; }));
    EXPECT_EQ(prefetch->entriesTaken(), 12u);
    EXPECT_EQ(prefetch->foldersRead(), 0u);
    // The walk lists five: five more go, and the next waits.
    std::shared_ptr<posix::ReadAheadShare> share = prefetch->share();
    share->entriesWalked = 5;
    ASSERT_TRUE(eventually([&] { return prefetch->entriesTaken() >= 17; }));
    EXPECT_EQ(prefetch->entriesTaken(), 17u);
    EXPECT_EQ(prefetch->foldersRead(), 0u);

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        prefetch.reset();
        stopped = true;
    });
    if (!eventually([&] { return stopped.load(); })) {
        ADD_FAILURE() << "stopping waited for the walk to catch up";
        share->entriesWalked = kNoLimit;
    }
    stopper.join();
    stopTreePrefetch(nullptr);
    EXPECT_EQ(startTreePrefetch(""), nullptr);
}

// The target of a verify is never listed by the walk: its readers keep pace
// with the walk of the source instead, and keep no listings.
TEST(TreePrefetch, ATreeTheWalkDoesNotListKeepsPaceWithTheOtherTreesWalk) {
    ScratchFolder scratch;
    scratch.folder("source");
    scratch.folder("target");
    for (int i = 0; i < 50; ++i) scratch.folder("target/f" + std::to_string(i));
    TreePrefetch source(scratch.path("source"), 0);
    TreePrefetch target(scratch.path("target"), source, 10);
    ASSERT_TRUE(eventually([&] { return target.entriesTaken() >= 12; }));
    EXPECT_EQ(target.entriesTaken(), 12u);
    // The source's walk lists five entries: five more go.
    source.share()->entriesWalked = 5;
    ASSERT_TRUE(eventually([&] { return target.entriesTaken() >= 17; }));
    EXPECT_EQ(target.entriesTaken(), 17u);
    source.share()->entriesWalked = kNoLimit;
    target.waitUntilDone();
    EXPECT_EQ(target.foldersRead(), 51u);
    EXPECT_EQ(target.share()->entriesWalked.load(), 0u);
    EXPECT_TRUE(target.share()->listings.empty());
}

// Whether any page of the file is in the page cache, after what was cached
// of it was dropped when `drop`.
bool anyPageCached(const std::string& path, bool drop = false) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    if (drop) {
        fsync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    off_t size = lseek(fd, 0, SEEK_END);
    void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return false;
    std::vector<unsigned char> pages((size + 4095) / 4096);
    bool cached = mincore(map, size, pages.data()) == 0 &&
                  std::any_of(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; });
    munmap(map, size);
    return cached;
}

TEST(TreePrefetch, ExpectedReadsBringInRegularFilesOfTheTreeOnlyWhereTheCacheIsCold) {
    ScratchFolder outside;
    std::string secret = outside.file("secret", std::string(1 << 20, 's'));
    ScratchFolder scratch;
    scratch.folder("tree");
    std::string first = scratch.file("tree/first", std::string(1 << 20, 'a'));
    std::string second = scratch.file("tree/second", std::string(1 << 20, 'b'));
    scratch.link("tree/away", secret);
    ASSERT_EQ(mkfifo(scratch.path("tree/fifo").c_str(), 0600), 0);
    for (const std::string& file : {secret, first, second}) anyPageCached(file, true);
    if (anyPageCached(first)) GTEST_SKIP() << "this file system keeps its pages";
    const std::string folder = scratch.path("tree") + "/";

    {
        TreePrefetch warm(scratch.path("tree"), kNoLimit, std::chrono::hours(1));
        warm.waitUntilDone();
        expectReads(folder.c_str(), {"first", "second"});
    }
    TreePrefetch cold(scratch.path("tree"), kNoLimit, std::chrono::hours(1));
    cold.waitUntilDone();
    cold.share()->cacheWarm = false;
    // The FIFO would hang an open that waits.
    expectReads(folder.c_str(), {"fifo", "away", "second"});
    EXPECT_TRUE(eventually([&] { return anyPageCached(second); }));
    // Asked for before the second, the first would be in by now.
    EXPECT_FALSE(anyPageCached(first));
    EXPECT_FALSE(anyPageCached(secret));
}

// The samples may find a warm cache cold on a busy processor: files that
// already hold their first bytes tell better. Two such in a row end a
// folder's hints; one alone does not.
TEST(TreePrefetch, ExpectedReadsStopAtTwoFilesInARowAlreadyInMemory) {
    ScratchFolder scratch;
    scratch.folder("tree");
    std::map<std::string, std::string> files;
    for (const char* name : {"in1", "out1", "in2", "in3", "out2", "out3", "last"})
        files[name] = scratch.file(std::string("tree/") + name, std::string(1 << 20, name[0]));
    for (const auto& [name, path] : files) anyPageCached(path, true);
    if (anyPageCached(files["out1"])) GTEST_SKIP() << "this file system keeps its pages";
    for (const char* name : {"in1", "in2", "in3"}) ScratchFolder::contentOf(files[name]);
    ASSERT_TRUE(anyPageCached(files["in1"]));
    const std::string folder = scratch.path("tree") + "/";
    TreePrefetch cold(scratch.path("tree"), kNoLimit, std::chrono::hours(1));
    cold.waitUntilDone();
    cold.share()->cacheWarm = false;
    expectReads(folder.c_str(), {"in1", "out1", "in2", "in3", "out2"});
    expectReads(folder.c_str(), {"out3", "last"});
    EXPECT_TRUE(eventually([&] { return anyPageCached(files["last"]); }));
    EXPECT_TRUE(anyPageCached(files["out1"])) << "one file in memory ends nothing";
    EXPECT_FALSE(anyPageCached(files["out2"])) << "asked for after two in memory";
    EXPECT_TRUE(anyPageCached(files["out3"]));
}

}  // namespace
}  // namespace platform
