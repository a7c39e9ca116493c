#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/access_time.h"
#include "platform/posix/file_time.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"
#include "test_support.h"

namespace posix {
namespace {

HANDLE openReading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct stat statusOf(const std::string& path) {
    struct stat status{};
    lstat(path.c_str(), &status);
    return status;
}

void setTimes(const std::string& path, timespec access, timespec modification) {
    timespec times[2] = {access, modification};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The change time moves on the kernel's coarse clock: waits until a file
// written now gets a change time past `since`, so that a change the test
// must not find would show.
void letTheClockMovePast(const ScratchFolder& scratch, const timespec& since) {
    EXPECT_TRUE(eventually([&] {
        timespec now = statusOf(scratch.file(".clock", "tick")).st_ctim;
        return now.tv_sec > since.tv_sec ||
               (now.tv_sec == since.tv_sec && now.tv_nsec > since.tv_nsec);
    }));
}

TEST(FileInformation, DescribesTheOpenFile) {
    ScratchFolder scratch;
    std::string path = scratch.file(".data", std::string(70000, 'x'), 0444);
    ASSERT_EQ(link(path.c_str(), scratch.path("second").c_str()), 0);
    setTimes(path, {1000000000, 100}, {1100000000, 999999999});
    HANDLE handle = openReading(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(handle, &info));
    struct stat status = statusOf(path);
    EXPECT_EQ(info.dwFileAttributes & 0xFFFF, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY |
                                                  FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(info.nFileSizeHigh, 0u);
    EXPECT_EQ(info.nFileSizeLow, 70000u);
    EXPECT_EQ(info.nNumberOfLinks, 2u);
    EXPECT_EQ(info.nFileIndexLow, static_cast<DWORD>(status.st_ino & 0xFFFFFFFFu));
    EXPECT_EQ(fileTimeTicks(info.ftLastWriteTime),
              fileTimeTicks(toFileTime({1100000000, 999999900})));
    FILETIME creation, access, write;
    ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
    EXPECT_EQ(fileTimeTicks(access), fileTimeTicks(toFileTime({1000000000, 100})));
    EXPECT_EQ(fileTimeTicks(write), fileTimeTicks(info.ftLastWriteTime));
    EXPECT_EQ(fileTimeTicks(creation), fileTimeTicks(info.ftCreationTime));
    CloseHandle(handle);
    EXPECT_FALSE(GetFileTime(nullptr, &creation, &access, &write));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(SetFileTime, SetsBothTimesToTheTickAndLeavesOutNullOnes) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "x");
    setTimes(path, {1000000000, 0}, {1000000000, 0});
    HANDLE handle = openReading(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME access = toFileTime({1234567890, 123456789});
    FILETIME write = toFileTime({-86400, 500});
    FILETIME creation = toFileTime({5, 0});
    EXPECT_TRUE(SetFileTime(handle, &creation, &access, &write));
    struct stat status = statusOf(path);
    EXPECT_TRUE(sameTime(status.st_atim, {1234567890, 123456700}));
    EXPECT_TRUE(sameTime(status.st_mtim, {-86400, 500}));

    FILETIME later = toFileTime({1300000000, 0});
    EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &later));
    status = statusOf(path);
    EXPECT_TRUE(sameTime(status.st_atim, {1234567890, 123456700}));
    EXPECT_TRUE(sameTime(status.st_mtim, {1300000000, 0}));
    CloseHandle(handle);
}

TEST(SetFileTime, PuttingBackTheSameTimesChangesNothingAtAll) {
    ScratchFolder scratch;
    std::string path = scratch.file("source", "x");
    // Nanoseconds below one tick must survive putting the times back.
    setTimes(path, {1000000000, 123456789}, {1100000000, 987654321});
    HANDLE handle = openReading(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME creation, access, write;
    ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
    struct stat before = statusOf(path);
    letTheClockMovePast(scratch, before.st_ctim);
    EXPECT_TRUE(SetFileTime(handle, &creation, &access, &write));
    struct stat after = statusOf(path);
    EXPECT_TRUE(sameTime(after.st_ctim, before.st_ctim));
    EXPECT_TRUE(sameTime(after.st_mtim, {1100000000, 987654321}));
    EXPECT_TRUE(sameTime(after.st_atim, {1000000000, 123456789}));

    // A changed access time is put back; the equal write time is left exact.
    setTimes(path, {1200000000, 0}, {1100000000, 987654321});
    EXPECT_TRUE(SetFileTime(handle, &creation, &access, &write));
    after = statusOf(path);
    EXPECT_TRUE(sameTime(after.st_atim, {1000000000, 123456700}));
    EXPECT_TRUE(sameTime(after.st_mtim, {1100000000, 987654321}));
    CloseHandle(handle);
}

TEST(SetFileTime, OnALinkHandleSetsTheLinkNotItsTarget) {
    ScratchFolder scratch;
    std::string target = scratch.file("target", "x");
    std::string link = scratch.link("link", "target");
    setTimes(target, {1000000000, 0}, {1000000000, 0});
    HANDLE handle = openReading(link);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME when = toFileTime({1400000000, 700});
    EXPECT_TRUE(SetFileTime(handle, nullptr, &when, &when));
    CloseHandle(handle);
    EXPECT_TRUE(sameTime(statusOf(link).st_mtim, {1400000000, 700}));
    EXPECT_TRUE(sameTime(statusOf(target).st_mtim, {1000000000, 0}));
}

// A handle answers questions about its file from its last look while nothing
// has been done through it; whatever it does in between makes it look again.
TEST(FileInformation, AnswersFollowWhatIsDoneThroughTheHandle) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "12345");
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(handle, &info));
    EXPECT_EQ(info.nFileSizeLow, 5u);

    DWORD done = 0;
    ASSERT_TRUE(WriteFile(handle, "written through the handle", 26, &done, nullptr));
    ASSERT_TRUE(GetFileInformationByHandle(handle, &info));
    EXPECT_EQ(info.nFileSizeLow, 26u);

    FILETIME when = toFileTime({1200000000, 0});
    ASSERT_TRUE(SetFileTime(handle, nullptr, nullptr, &when));
    FILETIME creation, access, write;
    ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
    EXPECT_EQ(fileTimeTicks(write), fileTimeTicks(when));

    CloseHandle(handle);
}

// The source's access time is put back after a copy: a time changed from
// outside after the handle last looked is put back all the same.
TEST(SetFileTime, DecidesOnTheFileAsItIsNotAsTheHandleSawIt) {
    ScratchFolder scratch;
    std::string path = scratch.file("source", "x");
    setTimes(path, {1000000000, 0}, {1100000000, 0});
    HANDLE handle = openReading(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME creation, access, write;
    ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
    setTimes(path, {1300000000, 0}, {1100000000, 0});
    EXPECT_TRUE(SetFileTime(handle, nullptr, &access, nullptr));
    EXPECT_TRUE(sameTime(statusOf(path).st_atim, {1000000000, 0}));
    CloseHandle(handle);
}

bool readsLeaveTheTime(const std::string& path, DWORD access) {
    HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path;
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool keeps = platform::readsKeepAccessTime(handle);
    char block[16];
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(handle, block, sizeof block, &done, nullptr));
    CloseHandle(handle);
    return keeps;
}

// Readers skip putting the access time back only where reading cannot have
// moved it: a read of the owner's (or root's) file, never one that writes
// too, nor one the kernel refused O_NOATIME.
TEST(ReadsKeepAccessTime, OnlyWhereTheKernelTookNoAccessTime) {
    ScratchFolder scratch;
    std::string path = scratch.file("source", "content", 0644);
    setTimes(path, {1000000000, 0}, {1100000000, 0});
    EXPECT_TRUE(readsLeaveTheTime(path, GENERIC_READ));
    EXPECT_TRUE(sameTime(statusOf(path).st_atim, {1000000000, 0}));
    EXPECT_FALSE(readsLeaveTheTime(path, GENERIC_READ | GENERIC_WRITE));

    if (geteuid() != 0) GTEST_SKIP() << "reading another user's file needs root to set up";
    // Another user may read the file but not keep its access time.
    ASSERT_EQ(chmod(scratch.path(".").c_str(), 0755), 0);
    ASSERT_EQ(seteuid(65534), 0);
    const bool stranger = readsLeaveTheTime(path, GENERIC_READ);
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_FALSE(stranger);
}

// A file the handle created gets the times it is given, and keeps those it
// is not given.
TEST(SetFileTime, OnAFileTheHandleCreatedSetsWhatIsGiven) {
    ScratchFolder scratch;
    std::string path = scratch.path("new");
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_ARCHIVE, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(handle, "content", 7, &done, nullptr));
    FILETIME access = toFileTime({1000000000, 100});
    FILETIME write = toFileTime({1100000000, 999999900});
    EXPECT_TRUE(SetFileTime(handle, nullptr, &access, &write));
    struct stat status = statusOf(path);
    EXPECT_TRUE(sameTime(status.st_atim, {1000000000, 100}));
    EXPECT_TRUE(sameTime(status.st_mtim, {1100000000, 999999900}));
    FILETIME later = toFileTime({1200000000, 0});
    EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &later));
    status = statusOf(path);
    EXPECT_TRUE(sameTime(status.st_atim, {1000000000, 100}));
    EXPECT_TRUE(sameTime(status.st_mtim, {1200000000, 0}));
    CloseHandle(handle);
}

}  // namespace
}  // namespace posix
