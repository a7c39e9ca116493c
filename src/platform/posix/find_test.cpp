#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/entry_details.h"
#include "platform/posix/file_time.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

using Listing = std::map<std::string, WIN32_FIND_DATAA>;

// Lists a whole folder; the last error after the final FindNextFileA is kept.
Listing listAll(const std::string& folder, DWORD& endCode) {
    Listing entries;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "/*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        endCode = GetLastError();
        return entries;
    }
    do entries[data.cFileName] = data;
    while (FindNextFileA(find, &data));
    endCode = GetLastError();
    EXPECT_TRUE(FindClose(find));
    return entries;
}

uint64_t sizeOf(const WIN32_FIND_DATAA& data) {
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

TEST(FindFiles, ListingGivesDotEntriesAndEveryEntryWithoutFollowingLinks) {
    ScratchFolder scratch;
    scratch.file("plain.txt", "12345");
    scratch.folder("sub");
    scratch.file("sub/inner", "not to be listed");
    scratch.link("to-sub", "sub");
    scratch.link("dangling", "no/such/target");
    DWORD endCode = 0;
    Listing entries = listAll(scratch.root(), endCode);
    EXPECT_EQ(endCode, ERROR_NO_MORE_FILES);
    ASSERT_EQ(entries.size(), 6u);
    for (const char* name : {".", "..", "plain.txt", "sub", "to-sub", "dangling"})
        EXPECT_EQ(entries.count(name), 1u) << name;
    EXPECT_EQ(entries.count("inner"), 0u);

    EXPECT_TRUE(entries["sub"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(sizeOf(entries["sub"]), 0u);
    EXPECT_EQ(sizeOf(entries["plain.txt"]), 5u);
    // A link is a file whose size is its text's length, even to a folder.
    for (const char* link : {"to-sub", "dangling"}) {
        EXPECT_FALSE(entries[link].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) << link;
        EXPECT_TRUE(entries[link].dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) << link;
    }
    EXPECT_EQ(sizeOf(entries["to-sub"]), 3u);
    EXPECT_EQ(sizeOf(entries["dangling"]), 14u);
    EXPECT_EQ(entries["plain.txt"].cAlternateFileName[0], '\0');
}

TEST(FindFiles, RecordCarriesTimesFromTheFile) {
    ScratchFolder scratch;
    std::string file = scratch.file("dated", "x");
    timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(file.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_EQ(fileTimeTicks(data.ftLastAccessTime), fileTimeTicks(toFileTime({1000000000, 123456700})));
    EXPECT_EQ(fileTimeTicks(data.ftLastWriteTime), fileTimeTicks(toFileTime({1200000000, 987654300})));
    // Birth time, or the modification time where there is none: never zero.
    EXPECT_NE(fileTimeTicks(data.ftCreationTime), 0u);
}

TEST(FindFiles, DetailsTellModeOwnerAndTheNamesOfOneFile) {
    ScratchFolder scratch;
    std::string first = scratch.file("first", "x");
    ASSERT_EQ(chmod(first.c_str(), 04751), 0);
    ASSERT_EQ(link(first.c_str(), scratch.path("second").c_str()), 0);
    scratch.file("single", "y");
    DWORD endCode = 0;
    Listing entries = listAll(scratch.root(), endCode);
    platform::EntryDetails a = platform::detailsOf(entries.at("first"));
    platform::EntryDetails b = platform::detailsOf(entries.at("second"));
    platform::EntryDetails single = platform::detailsOf(entries.at("single"));
    struct stat status {};
    ASSERT_EQ(lstat(first.c_str(), &status), 0);
    EXPECT_EQ(a.mode, 04751u);
    EXPECT_EQ(a.owner, status.st_uid);
    EXPECT_EQ(a.group, status.st_gid);
    EXPECT_EQ(a.links, 2u);
    EXPECT_EQ(a.inode, b.inode);
    EXPECT_EQ(a.device, b.device);
    EXPECT_EQ(single.links, 1u);
    EXPECT_NE(single.inode, a.inode);
}

TEST(FindFiles, SizesBeyondFourGigabytesAreSplit) {
    ScratchFolder scratch;
    std::string path = scratch.file("sparse", "");
    ASSERT_EQ(truncate(path.c_str(), (5ll << 30) + 3), 0);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 0x40000003u);
}

TEST(FindFiles, ListingReachesAFolderGivenThroughALink) {
    ScratchFolder scratch;
    scratch.folder("real");
    scratch.file("real/one", "1");
    scratch.link("alias", "real");
    DWORD endCode = 0;
    Listing entries = listAll(scratch.path("alias"), endCode);
    EXPECT_EQ(entries.count("one"), 1u);
    EXPECT_EQ(endCode, ERROR_NO_MORE_FILES);
}

TEST(FindFiles, LookUpOfOneNameDoesNotFollowAndEndsAfterOneRecord) {
    ScratchFolder scratch;
    scratch.folder("sub");
    std::string link = scratch.link("to-sub", "sub");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(link.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "to-sub");
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    FindClose(find);
}

TEST(FindFiles, WildcardsOtherThanTheListingPatternAreLiteralNames) {
    ScratchFolder scratch;
    scratch.file("a.txt", "x");
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(scratch.path("*.txt").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    scratch.file("odd*.*", "literal");
    HANDLE find = FindFirstFileA(scratch.path("odd*.*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "odd*.*");
    FindClose(find);
}

TEST(FindFiles, ErrorsTellMissingNameMissingFolderAndRefusal) {
    ScratchFolder scratch;
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(scratch.path("absent").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA(scratch.path("gone/absent").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA(scratch.path("gone/*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    scratch.file("plain", "x");
    EXPECT_EQ(FindFirstFileA(scratch.path("plain/*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(FindFiles, UnreadableFolderIsRefusedWithAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    ScratchFolder scratch;
    std::string closed = scratch.folder("closed", 0);
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((closed + "/*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(FindFiles, LongestNameFitsTheField) {
    ScratchFolder scratch;
    std::string longest(255, 'n');
    scratch.file(longest, "x");
    DWORD endCode = 0;
    Listing entries = listAll(scratch.root(), endCode);
    ASSERT_EQ(entries.count(longest), 1u);
    EXPECT_EQ(std::string(entries[longest].cFileName).size(), 255u);
}

}  // namespace
}  // namespace posix
