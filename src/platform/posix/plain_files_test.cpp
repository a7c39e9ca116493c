#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/anchors.h"
#include "platform/listed_open.h"
#include "platform/posix/scratch_folder.h"

namespace posix {
namespace {

// Only plain files, by their entries' types: never a link (to a file or
// not), a FIFO or a folder; and only below an anchor through folders.
TEST(PlainFilesIn, NamesOnlyThePlainFilesOfTheFolderItself) {
    ScratchFolder scratch;
    scratch.folder("tree");
    scratch.file("tree/b file", "x");
    scratch.file("tree/.hidden", "x", 0);
    scratch.file("tree/a", "");
    scratch.link("tree/link to a", "a");
    ASSERT_EQ(mkfifo(scratch.path("tree/pipe").c_str(), 0600), 0);
    scratch.folder("tree/folder");
    scratch.file("tree/folder/deeper", "x");
    scratch.link("tree/link to folder", "folder");
    const std::vector<std::string> expected{".hidden", "a", "b file"};
    EXPECT_EQ(platform::plainFilesIn((scratch.path("tree") + "/").c_str()), expected);
    EXPECT_TRUE(platform::plainFilesIn(scratch.path("missing/").c_str()).empty());

    const int anchor = platform::anchorFolder(scratch.path("tree").c_str());
    EXPECT_TRUE(platform::plainFilesIn(scratch.path("tree/link to folder/").c_str()).empty())
        << "a link below the anchor is never listed through";
    EXPECT_EQ(platform::plainFilesIn(scratch.path("tree/folder/").c_str()),
              std::vector<std::string>{"deeper"});
    platform::releaseAnchor(anchor);
}

}  // namespace
}  // namespace posix
