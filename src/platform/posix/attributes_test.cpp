#include <cerrno>
#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/owner_copy.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

constexpr DWORD kKindBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                            FILE_ATTRIBUTE_REPARSE_POINT;

DWORD kindOf(const std::string& path) {
    return GetFileAttributesA(path.c_str()) & kKindBits;
}

mode_t modeOf(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0xFFFF;
}

DWORD withMode(DWORD kind, mode_t mode) {
    return kind | FILE_ATTRIBUTE_POSIX_MODE | (static_cast<DWORD>(mode) << FILE_ATTRIBUTE_POSIX_MODE_SHIFT);
}

std::string linkText(const std::string& path) {
    char text[PATH_MAX];
    ssize_t length = readlink(path.c_str(), text, sizeof text);
    return length < 0 ? "<no link>" : std::string(text, static_cast<size_t>(length));
}

TEST(FileAttributes, WordDescribesTypeNameAndPermissions) {
    ScratchFolder scratch;
    EXPECT_EQ(kindOf(scratch.file("plain", "x", 0644)), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(kindOf(scratch.file("locked", "x", 0444)),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(kindOf(scratch.file(".profile", "x", 0600)),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(kindOf(scratch.folder("sub")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(kindOf(scratch.link("link", "plain")), FILE_ATTRIBUTE_REPARSE_POINT);
    ASSERT_EQ(mkfifo(scratch.path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(kindOf(scratch.path("pipe")), FILE_ATTRIBUTE_SYSTEM);
    // Trailing separators and the folder's own dot names are not hidden.
    EXPECT_EQ(kindOf(scratch.path("sub/")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(kindOf(scratch.path("sub/.")), FILE_ATTRIBUTE_DIRECTORY);

    std::string odd = scratch.file("odd", "x");
    ASSERT_EQ(chmod(odd.c_str(), 04751), 0);
    EXPECT_EQ(GetFileAttributesA(odd.c_str()), withMode(FILE_ATTRIBUTE_ARCHIVE, 04751));
}

TEST(FileAttributes, MissingNameReportsFileOrPathNotFound) {
    ScratchFolder scratch;
    EXPECT_EQ(GetFileAttributesA(scratch.path("absent").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(scratch.path("gone/absent").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(SetFileAttributesA(scratch.path("absent").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileAttributes, CarriedModeIsSetExactlyAndRoundTrips) {
    ScratchFolder scratch;
    std::string source = scratch.file("source", "x", 0640);
    std::string target = scratch.file("target", "y", 0600);
    ASSERT_EQ(chmod(source.c_str(), 02640), 0);
    EXPECT_TRUE(SetFileAttributesA(target.c_str(), GetFileAttributesA(source.c_str())));
    EXPECT_EQ(modeOf(target), 02640u);
    EXPECT_EQ(GetFileAttributesA(target.c_str()), GetFileAttributesA(source.c_str()));
    EXPECT_TRUE(SetFileAttributesA(target.c_str(), withMode(FILE_ATTRIBUTE_READONLY, 0)));
    EXPECT_EQ(modeOf(target), 0u);
}

TEST(FileAttributes, FoldersKeepTheOwnersRightsSoTheRunCanFillThem) {
    ScratchFolder scratch;
    std::string folder = scratch.folder("sub", 0755);
    EXPECT_TRUE(SetFileAttributesA(folder.c_str(), withMode(FILE_ATTRIBUTE_DIRECTORY, 0500)));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_TRUE(SetFileAttributesA(folder.c_str(), withMode(FILE_ATTRIBUTE_DIRECTORY, 01055)));
    EXPECT_EQ(modeOf(folder), 01755u);
}

TEST(FileAttributes, WordWithoutModeOnlyChangesWritePermission) {
    ScratchFolder scratch;
    std::string file = scratch.file("file", "x", 0664);
    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(modeOf(file), 0444u);
    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(modeOf(file), 0644u);
    ASSERT_EQ(chmod(file.c_str(), 0500), 0);
    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(modeOf(file), 0700u);
}

TEST(FileAttributes, SettingNeverFollowsALink) {
    ScratchFolder scratch;
    std::string outside = scratch.file("outside", "keep", 0644);
    std::string link = scratch.link("link", "outside");
    EXPECT_TRUE(SetFileAttributesA(link.c_str(), withMode(FILE_ATTRIBUTE_ARCHIVE, 0)));
    EXPECT_TRUE(SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(modeOf(outside), 0644u);
    EXPECT_EQ(linkText(link), "outside");
}

TEST(FileAttributes, ReparseWordTurnsAFileIntoTheLinkItDescribes) {
    ScratchFolder scratch;
    std::string target = scratch.file("copy", "../some where/else", 0600);
    timespec times[2] = {{1100000000, 5000}, {1300000000, 123456700}};
    ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
    EXPECT_TRUE(SetFileAttributesA(target.c_str(), withMode(FILE_ATTRIBUTE_REPARSE_POINT, 0777)));
    EXPECT_EQ(linkText(target), "../some where/else");
    struct stat status;
    ASSERT_EQ(lstat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1300000000);
    EXPECT_EQ(status.st_mtim.tv_nsec, 123456700);
    // Nothing temporary is left beside it.
    DWORD entries = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((scratch.root() + "/*.*").c_str(), &data);
    do ++entries;
    while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(entries, 3u);
    // On a link already there nothing changes.
    EXPECT_TRUE(SetFileAttributesA(target.c_str(), withMode(FILE_ATTRIBUTE_REPARSE_POINT, 0777)));
    EXPECT_EQ(linkText(target), "../some where/else");
}

TEST(FileAttributes, ReparseWordRefusesContentThatCannotBeALinkText) {
    ScratchFolder scratch;
    std::string empty = scratch.file("empty", "");
    std::string nul = scratch.file("nul", std::string("a\0b", 3));
    std::string huge = scratch.file("huge", std::string(PATH_MAX, 'x'));
    for (const std::string& path : {empty, nul, huge}) {
        EXPECT_FALSE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_REPARSE_POINT)) << path;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(kindOf(path), FILE_ATTRIBUTE_ARCHIVE) << path;
    }
    std::string longest = scratch.file("longest", std::string(PATH_MAX - 1, 'x'));
    EXPECT_TRUE(SetFileAttributesA(longest.c_str(), FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(linkText(longest).size(), static_cast<size_t>(PATH_MAX - 1));
    // A folder with the link word is left alone.
    std::string folder = scratch.folder("sub", 0750);
    EXPECT_TRUE(SetFileAttributesA(folder.c_str(), withMode(FILE_ATTRIBUTE_REPARSE_POINT, 0777)));
    EXPECT_EQ(modeOf(folder), 0750u);
}

mode_t modeOfOpen(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return 0xFFFF;
    return static_cast<mode_t>((info.dwFileAttributes >> FILE_ATTRIBUTE_POSIX_MODE_SHIFT) & 07777);
}

HANDLE createCopy(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// The copy being written gets its bits through its handle: whatever stands
// under its name by then is not touched.
TEST(FileAttributes, OpenCopyTakesItsPermissionsThroughTheHandle) {
    ScratchFolder scratch;
    std::string name = scratch.path("copy");
    HANDLE copy = createCopy(name);
    ASSERT_NE(copy, INVALID_HANDLE_VALUE);
    ASSERT_EQ(rename(name.c_str(), scratch.path("moved").c_str()), 0);
    std::string stranger = scratch.file("copy", "x", 0600);

    EXPECT_TRUE(platform::givePermissionsOfOpen(copy, withMode(FILE_ATTRIBUTE_ARCHIVE, 02754)));
    EXPECT_EQ(modeOfOpen(copy), 02754u);
    EXPECT_EQ(modeOf(scratch.path("moved")), 02754u);
    EXPECT_EQ(modeOf(stranger), 0600u);
    CloseHandle(copy);
}

// A word that asks for more than permission bits is left for the name.
TEST(FileAttributes, OpenCopyLeavesLinksAndModelessWordsToItsName) {
    ScratchFolder scratch;
    std::string name = scratch.path("copy");
    HANDLE copy = createCopy(name);
    ASSERT_NE(copy, INVALID_HANDLE_VALUE);
    const mode_t before = modeOf(name);
    EXPECT_FALSE(platform::givePermissionsOfOpen(copy, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(platform::givePermissionsOfOpen(
        copy, withMode(FILE_ATTRIBUTE_REPARSE_POINT, 0777)));
    EXPECT_EQ(modeOf(name), before);
    CloseHandle(copy);
}

}  // namespace
}  // namespace posix
