#include "platform/posix/anchor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/anchors.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

// Every case runs with the kernel's one-call resolution and with the walk
// one name at a time that older kernels get.
class Anchored : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { previous_ = resolveNameByName(GetParam()); }
    void TearDown() override { resolveNameByName(previous_); }

    static bool create(const std::string& path, const std::string& content) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        return CloseHandle(file) && written == content.size();
    }
    static bool exists(const std::string& path) {
        struct stat status;
        return lstat(path.c_str(), &status) == 0;
    }
    static int entriesIn(const std::string& folder) {
        int count = 0;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + "/*.*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return -1;
        do ++count;
        while (FindNextFileA(find, &data));
        FindClose(find);
        return count - 2;
    }

    ScratchFolder scratch;

private:
    bool previous_ = false;
};

TEST_P(Anchored, PathsBelowNoAnchorAreLeftAsGiven) {
    scratch.folder("real");
    scratch.link("alias", "real");
    NameAt at;
    ASSERT_TRUE(locate(scratch.path("alias/f").c_str(), at));
    EXPECT_FALSE(at.anchored());
    EXPECT_EQ(at.folder, AT_FDCWD);
    EXPECT_EQ(at.name, scratch.path("alias/f"));
    EXPECT_TRUE(create(scratch.path("alias/f"), "through the link"));
    EXPECT_TRUE(exists(scratch.path("real/f")));
}

TEST_P(Anchored, TheRootMayBeALinkButNothingBelowIt) {
    scratch.folder("real");
    scratch.folder("real/sub");
    scratch.folder("outside");
    scratch.file("outside/canary", "keep");
    scratch.link("root", "real");
    scratch.link("real/escape", "../outside");
    platform::FolderAnchor anchor(scratch.path("root").c_str());

    EXPECT_TRUE(create(scratch.path("root/sub/f"), "below"));
    EXPECT_TRUE(exists(scratch.path("real/sub/f")));
    // Every kind of call refuses the link on the way.
    std::string through = scratch.path("root/escape/canary");
    EXPECT_FALSE(create(through, "overwritten"));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_FALSE(DeleteFileA(through.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_EQ(GetFileAttributesA(through.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(SetFileAttributesA(through.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(CreateDirectoryA(scratch.path("root/escape/new").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_FALSE(MoveFileA(scratch.path("root/sub/f").c_str(),
                           scratch.path("root/escape/moved").c_str()));
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(scratch.path("root/escape/*.*").c_str(), &data),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("outside/canary")), "keep");
    EXPECT_EQ(entriesIn(scratch.path("outside")), 1);
    // The link itself is still a name of its own: looked at, and removed.
    EXPECT_NE(GetFileAttributesA(scratch.path("root/escape").c_str()) &
                  FILE_ATTRIBUTE_REPARSE_POINT,
              0u);
    EXPECT_TRUE(DeleteFileA(scratch.path("root/escape").c_str()));
    EXPECT_TRUE(exists(scratch.path("outside/canary")));
}

// Every call looks its folder up again: one that moved away since an earlier
// call, with a link in its place, is neither followed nor worked in.
TEST_P(Anchored, AFolderMovedAwayAndReplacedByALinkIsNotWorkedIn) {
    scratch.folder("root");
    scratch.folder("root/a");
    scratch.folder("outside");
    platform::FolderAnchor anchor(scratch.root().c_str());
    EXPECT_TRUE(create(scratch.path("root/a/first"), "1"));
    ASSERT_EQ(rename(scratch.path("root/a").c_str(), scratch.path("root/moved").c_str()), 0);
    scratch.link("root/a", "../outside");
    EXPECT_FALSE(create(scratch.path("root/a/second"), "2"));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_FALSE(DeleteFileA(scratch.path("root/a/first").c_str()));
    EXPECT_EQ(entriesIn(scratch.path("outside")), 0);
    EXPECT_EQ(entriesIn(scratch.path("root/moved")), 1);
    NameAt at;
    EXPECT_FALSE(locate(scratch.path("root/a/b/c").c_str(), at));
    EXPECT_EQ(errno, ELOOP);
}

TEST_P(Anchored, AFolderRemovedAndMadeAgainIsLookedUpAfresh) {
    scratch.folder("root");
    scratch.folder("root/a");
    platform::FolderAnchor anchor(scratch.path("root").c_str());
    EXPECT_TRUE(create(scratch.path("root/a/old"), "old"));
    EXPECT_TRUE(DeleteFileA(scratch.path("root/a/old").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(scratch.path("root/a").c_str()));
    EXPECT_TRUE(CreateDirectoryA(scratch.path("root/a").c_str(), nullptr));
    EXPECT_TRUE(create(scratch.path("root/a/new"), "new"));
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("root/a/new")), "new");
    // The same after a rename.
    EXPECT_TRUE(MoveFileA(scratch.path("root/a").c_str(), scratch.path("root/b").c_str()));
    EXPECT_TRUE(CreateDirectoryA(scratch.path("root/a").c_str(), nullptr));
    EXPECT_TRUE(create(scratch.path("root/a/again"), "again"));
    EXPECT_TRUE(exists(scratch.path("root/a/again")));
    EXPECT_FALSE(exists(scratch.path("root/b/again")));
}

// The two names of a rename in one folder share one look-up of it; names in
// different folders, or a last name that climbs out, each get their own.
TEST_P(Anchored, RenamesWithinAFolderAndAcrossFoldersStayBelowTheRoot) {
    scratch.folder("root");
    scratch.folder("root/sub");
    scratch.folder("root/sub/deeper");
    scratch.folder("root/other");
    platform::FolderAnchor anchor(scratch.path("root").c_str());
    ASSERT_TRUE(create(scratch.path("root/sub/deeper/x"), "moved"));
    EXPECT_TRUE(MoveFileExA(scratch.path("root/sub/deeper/x").c_str(),
                            scratch.path("root/sub/deeper/y").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("root/sub/deeper/y")), "moved");
    EXPECT_FALSE(exists(scratch.path("root/sub/deeper/x")));
    EXPECT_TRUE(MoveFileExA(scratch.path("root/sub/deeper/y").c_str(),
                            scratch.path("root/sub/y").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileExA(scratch.path("root/sub/y").c_str(),
                            scratch.path("root/other/y").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("root/other/y")), "moved");
    EXPECT_FALSE(MoveFileExA(scratch.path("root/other/y").c_str(),
                             scratch.path("root/other/..").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("root/other/y")), "moved");
    EXPECT_EQ(entriesIn(scratch.path("root")), 2);
    // A folder whose name differs only by a separator more is the same.
    EXPECT_TRUE(MoveFileExA(scratch.path("root/other/y").c_str(),
                            scratch.path("root//other/z").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("root/other/z")), "moved");
}

TEST_P(Anchored, AMissingRootIsOpenedOnceItIsMade) {
    std::string root = scratch.path("later");
    platform::FolderAnchor anchor(root.c_str());
    EXPECT_FALSE(create(root + "/f", "x"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((root + "/*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryA((root + "/sub").c_str(), nullptr));
    EXPECT_TRUE(create(root + "/sub/f", "x"));
    EXPECT_EQ(entriesIn(root + "/sub"), 1);
}

TEST_P(Anchored, AnAnchorBelowAnotherIsReachedWithoutLinks) {
    scratch.folder("root");
    scratch.folder("outside");
    scratch.link("root/inner", "../outside");
    platform::FolderAnchor outer(scratch.path("root").c_str());
    platform::FolderAnchor inner(scratch.path("root/inner").c_str());
    EXPECT_FALSE(create(scratch.path("root/inner/f"), "x"));
    EXPECT_EQ(entriesIn(scratch.path("outside")), 0);
}

TEST_P(Anchored, MissingNamesAndFoldersReadAsWindowsSaysThem) {
    scratch.folder("root");
    scratch.file("root/plain", "x");
    platform::FolderAnchor anchor(scratch.path("root").c_str());
    EXPECT_EQ(GetFileAttributesA(scratch.path("root/absent").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(scratch.path("root/gone/absent").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(scratch.path("root/plain/absent").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // Nothing below an anchor climbs out of it.
    scratch.file("secret", "s");
    EXPECT_EQ(GetFileAttributesA(scratch.path("root/../secret").c_str()),
              INVALID_FILE_ATTRIBUTES);
    auto modeOf = [](const std::string& path) {
        struct stat status;
        return ::stat(path.c_str(), &status) == 0 ? status.st_mode : mode_t{0};
    };
    mode_t before = modeOf(scratch.root());
    EXPECT_FALSE(SetFileAttributesA(scratch.path("root/..").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(SetFileAttributesA(scratch.path("root/plain/../..").c_str(),
                                    FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(modeOf(scratch.root()), before);
}

TEST_P(Anchored, ReleasedAnchorsLeavePathsAsGiven) {
    scratch.folder("real");
    scratch.link("alias", "real");
    scratch.folder("root");
    scratch.link("root/alias", "../real");
    {
        platform::FolderAnchor anchor(scratch.path("root").c_str());
        EXPECT_FALSE(create(scratch.path("root/alias/f"), "x"));
    }
    EXPECT_TRUE(create(scratch.path("root/alias/f"), "x"));
    EXPECT_TRUE(exists(scratch.path("real/f")));
}

INSTANTIATE_TEST_SUITE_P(OneCallAndNameByName, Anchored, testing::Bool());

}  // namespace
}  // namespace posix
