// Junctions and links to folders below a run's roots: never entered, never
// written, read or emptied through; the entry is reported and the run exits
// with 2. A root that is such a link is the folder the user named and is
// walked as usual. A link that was there when its folder was listed stands
// here for one that took a folder's place during the run: the check that
// refuses it cannot tell them apart.
#include <gtest/gtest.h>

#include "platform/anchors.h"
#include "win32/e2e_support.h"
#include "win32/folder_link.h"
#include "win32/tree_compare.h"

using namespace wintest;

namespace {

class WindowsFolderLinks : public testing::Test, public KazRun {
protected:
    // A folder beside the trees, with files that are not the run's to touch.
    std::string outside = folder() + "\\outside";

    void SetUp() override {
        makeFolders(source);
        makeFolders(target);
        writeFile(outside + "\\mine.txt", "outside's own\r\n");
        writeFile(outside + "\\sub\\deep.txt", "deep outside\r\n");
    }

    void expectOutsideUntouched() {
        EXPECT_EQ(readFile(outside + "\\mine.txt"), "outside's own\r\n");
        EXPECT_EQ(readFile(outside + "\\sub\\deep.txt"), "deep outside\r\n");
    }
};

#define MAKE_FOLDER_LINK(name, link, folder)                     \
    FolderLink name(link, folder);                               \
    if (!name.made()) GTEST_SKIP() << name.whyNot();             \
    RecordProperty("link", name.kind())

}  // namespace

TEST_F(WindowsFolderLinks, TargetLinkWhereTheSourceHasAFolderIsNotWrittenThrough) {
    writeFile(source + "\\keep\\new.txt", "new\r\n");
    writeFile(source + "\\keep\\deeper\\more.txt", "more\r\n");
    writeFile(source + "\\top.txt", "top\r\n");
    MAKE_FOLDER_LINK(link, target + "\\keep", outside);

    EXPECT_EQ(mirror(), 2);
    expectOutsideUntouched();
    EXPECT_FALSE(fileExists(outside + "\\new.txt"));
    EXPECT_FALSE(folderExists(outside + "\\deeper"));
    EXPECT_TRUE(isFolderLink(target + "\\keep"));
    // The rest of the run went on.
    EXPECT_EQ(readFile(target + "\\top.txt"), "top\r\n");
    std::string text = logText();
    EXPECT_NE(text.find(": KAZ - Error listing target folder  ERROR_BAD_PATHNAME(161)\r\n: " +
                        source + "\\keep\\ " + target + "\\keep\\\r\n"),
              std::string::npos)
        << text;
    std::string exceptions =
        between(text, ":-------- Exception List", ":-------- End of Exception List");
    EXPECT_NE(exceptions.find(target + "\\keep\\"), std::string::npos) << text;
}

TEST_F(WindowsFolderLinks, TargetLinkTheSourceLacksIsNotEmptiedThrough) {
    writeFile(source + "\\top.txt", "top\r\n");
    MAKE_FOLDER_LINK(link, target + "\\stale", outside);

    EXPECT_EQ(mirror(), 2);
    expectOutsideUntouched();
    EXPECT_TRUE(isFolderLink(target + "\\stale"));
    EXPECT_EQ(readFile(target + "\\top.txt"), "top\r\n");
    std::string text = logText();
    EXPECT_NE(text.find(": KAZ - Error parsing directory " + target + "\\stale"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("DEL " + target + "\\stale\\"), std::string::npos) << text;
}

TEST_F(WindowsFolderLinks, SourceLinkIsNotReadAndItsTargetCopyStays) {
    writeFile(source + "\\top.txt", "top\r\n");
    writeFile(target + "\\linked\\old.txt", "an earlier copy\r\n");
    MAKE_FOLDER_LINK(link, source + "\\linked", outside);

    EXPECT_EQ(mirror(), 2);
    expectOutsideUntouched();
    EXPECT_FALSE(fileExists(target + "\\linked\\mine.txt"));
    EXPECT_FALSE(folderExists(target + "\\linked\\sub"));
    EXPECT_EQ(readFile(target + "\\linked\\old.txt"), "an earlier copy\r\n");
    EXPECT_EQ(readFile(target + "\\top.txt"), "top\r\n");
    std::string text = logText();
    EXPECT_NE(text.find(": KAZ - Error listing source folder  ERROR_BAD_PATHNAME(161)\r\n: " +
                        source + "\\linked\\*.* " + target + "\\linked\\*.*\r\n"),
              std::string::npos)
        << text;
}

TEST_F(WindowsFolderLinks, RootsThatAreLinksAreWalkedAsNamed) {
    std::string realSource = folder() + "\\real-source";
    std::string realTarget = folder() + "\\real-target";
    buildSourceTree(realSource);
    makeFolders(realTarget);
    writeFile(realTarget + "\\stale.txt", "the source lacks this\r\n");
    MAKE_FOLDER_LINK(sourceLink, folder() + "\\source-link", realSource);
    FolderLink targetLink(folder() + "\\target-link", realTarget);
    ASSERT_TRUE(targetLink.made()) << targetLink.whyNot();

    source = folder() + "\\source-link";
    target = folder() + "\\target-link";
    EXPECT_EQ(mirror(), 0) << logText();
    EXPECT_EQ(treeDifferences(realSource, realTarget), "");
    EXPECT_TRUE(isFolderLink(source));
    EXPECT_TRUE(isFolderLink(target));
}

// The check itself, as the walk asks it before listing or removing a folder.
TEST_F(WindowsFolderLinks, OnlyAnAnchoredLinkMayBeEntered) {
    MAKE_FOLDER_LINK(link, folder() + "\\link", outside);
    EXPECT_TRUE(platform::mayEnterFolder(outside.c_str()));
    // What is missing is for the listing to say.
    EXPECT_TRUE(platform::mayEnterFolder((folder() + "\\missing").c_str()));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(platform::mayEnterFolder((folder() + "\\link").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    {
        // Named as a root, with its final separator and in other letter case.
        std::string upper = folder() + "\\LINK\\";
        platform::FolderAnchor root(upper.c_str());
        EXPECT_TRUE(platform::mayEnterFolder((folder() + "\\link").c_str()));
        // Below the root a link is refused all the same.
        makeFolders(folder() + "\\real-inner");
        MAKE_FOLDER_LINK(inner, outside + "\\inner", folder() + "\\real-inner");
        EXPECT_FALSE(platform::mayEnterFolder((folder() + "\\link\\inner").c_str()));
    }
    EXPECT_FALSE(platform::mayEnterFolder((folder() + "\\link").c_str()));
}

TEST_F(WindowsFolderLinks, VerifyComparesNothingThroughATargetLink) {
    // The folder the link leads to holds what the source holds: compared
    // through the link, it would pass for a verified copy.
    writeFile(source + "\\sub\\same.txt", "same\r\n");
    writeFile(outside + "\\same.txt", "same\r\n");
    writeFile(source + "\\top.txt", "top\r\n");
    writeFile(target + "\\top.txt", "top\r\n");
    MAKE_FOLDER_LINK(link, target + "\\sub", outside);

    EXPECT_EQ(mirror({"/verify"}), 2);
    std::string text = logText();
    std::string verified = between(text, ":-------- File Verify List --------\r\n",
                                   ":-------- End of File Verify List");
    EXPECT_NE(verified.find(source + "\\top.txt " + target + "\\top.txt\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(verified.find("same.txt"), std::string::npos) << text;
    EXPECT_NE(text.find(": KAZ - Error listing target folder  ERROR_BAD_PATHNAME(161)\r\n: " +
                        source + "\\sub " + target + "\\sub\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(readFile(outside + "\\same.txt"), "same\r\n");
}

// A folder anchored below another anchor is reached through that one: a
// link there is refused, as it is on POSIX.
TEST_F(WindowsFolderLinks, ALinkAnchoredBelowAnotherAnchorIsNoRootOfItsOwn) {
    MAKE_FOLDER_LINK(link, folder() + "\\link", outside);
    platform::FolderAnchor outer((folder() + "\\").c_str());
    platform::FolderAnchor inner((folder() + "\\link").c_str());
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(platform::mayEnterFolder((folder() + "\\link").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    // A folder whose name only begins like the outer one's is not below it.
    std::string beside = folder() + "-beside";
    platform::FolderAnchor besideRoot(beside.c_str());
    MAKE_FOLDER_LINK(besideLink, beside, outside);
    EXPECT_TRUE(platform::mayEnterFolder(beside.c_str()));
}

// At the end of a run no root is left: a later run's link is refused again.
TEST_F(WindowsFolderLinks, RootsEndWithTheRun) {
    MAKE_FOLDER_LINK(link, folder() + "\\link", outside);
    platform::anchorFolder((folder() + "\\link").c_str());
    EXPECT_TRUE(platform::mayEnterFolder((folder() + "\\link").c_str()));
    platform::releaseAllAnchors();
    EXPECT_FALSE(platform::mayEnterFolder((folder() + "\\link").c_str()));
}
