#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/anchors.h"
#include "platform/owner_copy.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

DWORD failureOf(BOOL result) {
    return result ? 0 : GetLastError();
}

TEST(DeleteFile, RemovesFilesAndLinksButNeverFoldersOrLinkTargets) {
    ScratchFolder scratch;
    std::string file = scratch.file("file", "x", 0444);
    EXPECT_TRUE(DeleteFileA(file.c_str()));
    EXPECT_FALSE(exists(file));

    std::string target = scratch.file("target", "kept");
    std::string folder = scratch.folder("folder");
    scratch.file("folder/inside", "kept too");
    EXPECT_TRUE(DeleteFileA(scratch.link("to-file", "target").c_str()));
    EXPECT_TRUE(DeleteFileA(scratch.link("to-folder", "folder").c_str()));
    EXPECT_EQ(ScratchFolder::contentOf(target), "kept");
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("folder/inside")), "kept too");
    EXPECT_FALSE(exists(scratch.path("to-file")));

    EXPECT_EQ(failureOf(DeleteFileA(folder.c_str())), ERROR_ACCESS_DENIED);
    EXPECT_EQ(failureOf(DeleteFileA(scratch.path("absent").c_str())), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failureOf(DeleteFileA(scratch.path("gone/absent").c_str())), ERROR_PATH_NOT_FOUND);
}

TEST(MoveFile, RenamesButNeverReplacesAnExistingName) {
    ScratchFolder scratch;
    std::string from = scratch.file("log.~~~", "new log");
    std::string to = scratch.file("log", "old log");
    EXPECT_EQ(failureOf(MoveFileA(from.c_str(), to.c_str())), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ScratchFolder::contentOf(from), "new log");
    EXPECT_EQ(ScratchFolder::contentOf(to), "old log");

    ASSERT_TRUE(DeleteFileA(to.c_str()));
    EXPECT_TRUE(MoveFileA(from.c_str(), to.c_str()));
    EXPECT_EQ(ScratchFolder::contentOf(to), "new log");
    EXPECT_FALSE(exists(from));

    EXPECT_EQ(failureOf(MoveFileA(from.c_str(), scratch.path("other").c_str())),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failureOf(MoveFileA(to.c_str(), scratch.path("gone/other").c_str())),
              ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(exists(to));
}

TEST(CreateDirectory, MakesOneFolderAndTellsExistingFromMissingParent) {
    ScratchFolder scratch;
    std::string folder = scratch.path("new");
    mode_t mask = umask(027);
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750u);
    EXPECT_EQ(failureOf(CreateDirectoryA(folder.c_str(), nullptr)), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(failureOf(CreateDirectoryA(scratch.path("a/b").c_str(), nullptr)),
              ERROR_PATH_NOT_FOUND);
    scratch.file("file", "x");
    EXPECT_EQ(failureOf(CreateDirectoryA(scratch.path("file").c_str(), nullptr)),
              ERROR_ALREADY_EXISTS);
}

TEST(RemoveDirectory, RemovesOnlyEmptyFoldersAndNeverThroughALink) {
    ScratchFolder scratch;
    std::string full = scratch.folder("full");
    scratch.file("full/entry", "x");
    EXPECT_EQ(failureOf(RemoveDirectoryA(full.c_str())), ERROR_DIR_NOT_EMPTY);
    std::string link = scratch.link("to-empty", "empty");
    std::string empty = scratch.folder("empty");
    EXPECT_FALSE(RemoveDirectoryA(link.c_str()));
    EXPECT_TRUE(exists(empty));
    EXPECT_TRUE(exists(link));
    EXPECT_TRUE(RemoveDirectoryA(empty.c_str()));
    EXPECT_FALSE(exists(empty));
    EXPECT_EQ(failureOf(RemoveDirectoryA(empty.c_str())), ERROR_FILE_NOT_FOUND);
}

TEST(CopyOwner, GivesTheCopyTheSourceOwnerAndKeepsItsIdBits) {
    if (geteuid() != 0) GTEST_SKIP() << "only root changes owners";
    ScratchFolder scratch;
    std::string source = scratch.file("source", "x");
    std::string target = scratch.file("target", "x");
    ASSERT_EQ(chown(source.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(target.c_str(), 06755), 0);
    EXPECT_TRUE(platform::copyOwner(source.c_str(), target.c_str()));
    struct stat status;
    ASSERT_EQ(lstat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 1234u);
    EXPECT_EQ(status.st_gid, 5678u);
    EXPECT_EQ(status.st_mode & 07777, 06755u);

    // A link gets the owner itself; what it points to keeps its own.
    std::string link = scratch.link("link", "outside");
    std::string outside = scratch.file("outside", "x");
    EXPECT_TRUE(platform::copyOwner(source.c_str(), link.c_str()));
    ASSERT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 1234u);
    ASSERT_EQ(lstat(outside.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_FALSE(platform::copyOwner(scratch.path("absent").c_str(), target.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A new copy's group comes from its folder when that is set-group-ID, so
// even a source of root's own is no reason to leave the copy as it was made.
TEST(CopyOwner, OfOpenFilesGivesANewCopyTheSourceOwnerWhateverItsFolderGaveIt) {
    if (geteuid() != 0) GTEST_SKIP() << "only root changes owners";
    ScratchFolder scratch;
    std::string users = scratch.file("users", "x");
    std::string roots = scratch.file("roots", "x");
    ASSERT_EQ(chown(users.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chown(roots.c_str(), 0, 0), 0);
    std::string plain = scratch.folder("plain");
    std::string grouped = scratch.folder("grouped");
    ASSERT_EQ(chown(grouped.c_str(), 0, 4321), 0);
    ASSERT_EQ(chmod(grouped.c_str(), 02755), 0);
    struct Case {
        std::string source, copy;
        uid_t owner;
        gid_t group;
    };
    const Case cases[] = {{users, plain + "/copy", 1234, 5678},
                          {users, grouped + "/copy", 1234, 5678},
                          {roots, grouped + "/root copy", 0, 0}};
    for (const Case& each : cases) {
        SCOPED_TRACE(each.copy);
        HANDLE from = CreateFileA(each.source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE to = CreateFileA(each.copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_ARCHIVE, nullptr);
        ASSERT_NE(from, INVALID_HANDLE_VALUE);
        ASSERT_NE(to, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(platform::copyOwnerOfOpen(from, to));
        CloseHandle(from);
        CloseHandle(to);
        struct stat status;
        ASSERT_EQ(lstat(each.copy.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, each.owner);
        EXPECT_EQ(status.st_gid, each.group);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
    }
}

}  // namespace
}  // namespace posix

namespace posix {
namespace {

ino_t inodeOf(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST(CreateHardLink, GivesTheFileASecondNameAndNeverReplacesOne) {
    ScratchFolder scratch;
    std::string file = scratch.file("file", "data");
    std::string other = scratch.file("other", "kept");
    EXPECT_TRUE(CreateHardLinkA(scratch.path("second").c_str(), file.c_str(), nullptr));
    EXPECT_EQ(inodeOf(scratch.path("second")), inodeOf(file));

    EXPECT_EQ(failureOf(CreateHardLinkA(other.c_str(), file.c_str(), nullptr)),
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ScratchFolder::contentOf(other), "kept");
    EXPECT_EQ(failureOf(CreateHardLinkA(scratch.path("third").c_str(),
                                        scratch.path("absent").c_str(), nullptr)),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failureOf(CreateHardLinkA(scratch.path("gone/third").c_str(), file.c_str(),
                                        nullptr)),
              ERROR_PATH_NOT_FOUND);
}

// Below an anchor a link on the way is refused, and a link as the existing
// name is linked itself, never what it leads to.
TEST(CreateHardLink, FollowsNoLinkBelowAnAnchor) {
    ScratchFolder scratch;
    scratch.folder("root");
    scratch.folder("outside");
    std::string secret = scratch.file("outside/secret", "outside");
    scratch.link("root/way", "../outside");
    std::string pointer = scratch.link("root/pointer", "../outside/secret");
    platform::FolderAnchor anchor(scratch.path("root").c_str());

    EXPECT_FALSE(CreateHardLinkA(scratch.path("root/copy").c_str(),
                                 scratch.path("root/way/secret").c_str(), nullptr));
    EXPECT_FALSE(CreateHardLinkA(scratch.path("root/way/made").c_str(), pointer.c_str(), nullptr));
    EXPECT_FALSE(exists(scratch.path("outside/made")));

    ASSERT_TRUE(CreateHardLinkA(scratch.path("root/same").c_str(), pointer.c_str(), nullptr));
    EXPECT_EQ(inodeOf(scratch.path("root/same")), inodeOf(pointer));
    EXPECT_NE(inodeOf(scratch.path("root/same")), inodeOf(secret));
}

}  // namespace
}  // namespace posix
