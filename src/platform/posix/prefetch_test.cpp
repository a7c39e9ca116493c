#include <gtest/gtest.h>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/prefetch.h"
#include "platform/posix/scratch_folder.h"
#include "platform/tree_prefetch.h"

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
    posix::entriesListed = 0;
    {
        TreePrefetch prefetch(scratch.path("tree"), 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(prefetch.foldersRead(), 0u);
    }
    stopTreePrefetch(nullptr);
    EXPECT_EQ(startTreePrefetch(""), nullptr);
}

}  // namespace
}  // namespace platform
