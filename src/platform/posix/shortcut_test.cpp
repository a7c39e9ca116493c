#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/shortcuts.h"
#include "test_support.h"

namespace {

class ShortcutTest : public testing::Test {
protected:
    void SetUp() override {
        real = std::filesystem::canonical(dir.path()).string();
        ::mkdir((dir / "data").c_str(), 0755);
        ::mkdir((dir / "refs").c_str(), 0755);
        ::mkdir((dir / "elsewhere").c_str(), 0755);
        ::mkdir((dir / "elsewhere/inner").c_str(), 0755);
        writeFile(dir / "file", "x");
    }
    bool read(const std::string& path) { return platform::readFolderShortcut(path.c_str(), folder); }

    TempDir dir;
    std::string real;
    std::string folder;
};

}  // namespace

TEST_F(ShortcutTest, RelativeLinkIsReadFromTheRealFolderThatHoldsIt) {
    ::symlink("./../data/", (dir / "refs/l").c_str());
    // Reached through a link of its own, the folder still leads where the
    // kernel leads: next to the real refs folder.
    ::mkdir((dir / "alias-parent").c_str(), 0755);
    ::symlink((dir / "refs").c_str(), (dir / "alias-parent/refs").c_str());
    ASSERT_TRUE(read(dir / "alias-parent/refs/l"));
    EXPECT_EQ(folder, real + "/data");
}

TEST_F(ShortcutTest, AbsoluteLinkKeepsTheNamesItWasWrittenWith) {
    ::symlink((dir / "elsewhere").c_str(), (dir / "via").c_str());
    ::symlink((dir / "via//inner/.").c_str(), (dir / "refs/l").c_str());
    ASSERT_TRUE(read(dir / "refs/l"));
    EXPECT_EQ(folder, dir / "via/inner");
    // ".." after a link climbs from where the link leads, not by text.
    ::mkdir((dir / "inner").c_str(), 0755);  // where text alone would lead
    ::symlink((dir / "elsewhere/inner").c_str(), (dir / "deep").c_str());
    ::symlink((dir / "deep/../inner").c_str(), (dir / "refs/climb").c_str());
    ASSERT_TRUE(read(dir / "refs/climb"));
    EXPECT_EQ(folder, real + "/elsewhere/inner");
    ::symlink("/", (dir / "refs/root").c_str());
    ASSERT_TRUE(read(dir / "refs/root"));
    EXPECT_EQ(folder, "/");
}

TEST_F(ShortcutTest, OnlyLinksToFoldersAreShortcuts) {
    ::symlink((dir / "file").c_str(), (dir / "refs/to-file").c_str());
    ::symlink((dir / "missing").c_str(), (dir / "refs/dangling").c_str());
    ::symlink("loop", (dir / "refs/loop").c_str());
    for (const char* name : {"refs/to-file", "refs/dangling", "refs/loop", "data", "file", "nothing"}) {
        EXPECT_FALSE(read(dir / name)) << name;
    }
}
