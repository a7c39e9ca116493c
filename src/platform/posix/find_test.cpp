#include <gtest/gtest.h>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/entry_details.h"
#include "platform/posix/file_time.h"
#include "platform/posix/prefetch.h"
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

// A long folder is read and looked up in batches, the look-ups shared by two
// threads: every entry still comes once, with its own record.
TEST(FindFiles, LongFolderGivesEachEntryOnceWithItsOwnRecord) {
    ScratchFolder scratch;
    constexpr int kFiles = 1300;  // more than two batches
    for (int i = 0; i < kFiles; ++i)
        scratch.file("f" + std::to_string(i), std::string(static_cast<size_t>(i % 97), 'x'));
    scratch.link("link", "f1");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((scratch.root() + "/*.*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::map<std::string, int> seen;
    do {
        ++seen[data.cFileName];
        const std::string name = data.cFileName;
        if (name == "link") {
            EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            EXPECT_EQ(sizeOf(data), 2u);
        } else if (name[0] == 'f') {
            EXPECT_EQ(sizeOf(data), static_cast<uint64_t>(std::stoi(name.substr(1)) % 97)) << name;
            struct stat status {};
            ASSERT_EQ(lstat(scratch.path(name).c_str(), &status), 0);
            EXPECT_EQ(platform::detailsOf(data).inode, status.st_ino) << name;
        }
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(seen.size(), kFiles + 3u);  // the files, the link, "." and ".."
    for (const auto& [name, count] : seen) EXPECT_EQ(count, 1) << name;
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

// A read-ahead that finds the cache warm, keeps every listing it may and is
// done before the walk starts.
struct FinishedReadAhead {
    explicit FinishedReadAhead(const std::string& root)
        : prefetch(root, uint64_t{1} << 40, std::chrono::hours(1)) {
        prefetch.waitUntilDone();
    }
    bool holdsListings() const { return !prefetch.share()->listings.empty(); }
    platform::TreePrefetch prefetch;
};

TEST(FindFiles, AListingReadAheadIsTheListingTheFolderGives) {
    ScratchFolder scratch;
    scratch.folder("tree");
    scratch.file("tree/plain.txt", "12345");
    scratch.folder("tree/sub", 0700);
    scratch.file("tree/sub/inner", "deeper");
    scratch.folder("tree/empty");
    scratch.link("tree/to-sub", "sub");
    std::map<std::string, Listing> direct;
    for (const char* folder : {"tree", "tree/sub", "tree/empty"}) {
        DWORD endCode = 0;
        direct[folder] = listAll(scratch.path(folder), endCode);
        ASSERT_EQ(endCode, ERROR_NO_MORE_FILES);
    }

    FinishedReadAhead readAhead(scratch.path("tree"));
    ASSERT_TRUE(readAhead.holdsListings());
    for (const auto& [folder, expected] : direct) {
        DWORD endCode = 0;
        Listing given = listAll(scratch.path(folder), endCode);
        EXPECT_EQ(endCode, ERROR_NO_MORE_FILES) << folder;
        ASSERT_EQ(given.size(), expected.size()) << folder;
        for (const auto& [name, data] : expected) {
            ASSERT_EQ(given.count(name), 1u) << folder << "/" << name;
            // Reading a folder may give it a new access time, and ".." is read too.
            WIN32_FIND_DATAA expectedData = data;
            expectedData.ftLastAccessTime = given[name].ftLastAccessTime;
            EXPECT_EQ(std::memcmp(&given[name], &expectedData, sizeof data), 0)
                << folder << "/" << name;
        }
    }
    EXPECT_FALSE(readAhead.holdsListings());  // each was handed over, once
}

TEST(FindFiles, AFolderChangedAfterItWasReadAheadIsReadAgain) {
    ScratchFolder scratch;
    scratch.folder("tree");
    for (const char* folder : {"tree/grown", "tree/shrunk", "tree/swapped", "tree/linked"})
        scratch.folder(folder);
    scratch.file("tree/shrunk/leaving", "x");
    scratch.file("tree/linked/one name", "shared");
    ASSERT_EQ(link(scratch.path("tree/linked/one name").c_str(),
                   scratch.path("tree/other name").c_str()),
              0);
    FinishedReadAhead readAhead(scratch.path("tree"));
    ASSERT_TRUE(readAhead.holdsListings());

    scratch.file("tree/grown/new", "x");
    ASSERT_EQ(unlink(scratch.path("tree/shrunk/leaving").c_str()), 0);
    ASSERT_EQ(rename(scratch.path("tree/swapped").c_str(), scratch.path("tree/old").c_str()), 0);
    scratch.folder("tree/swapped");
    scratch.file("tree/swapped/in the new one", "x");
    // A change through another name leaves the folder's times as they were:
    // the listing of a folder holding such a file is never kept.
    ASSERT_EQ(chmod(scratch.path("tree/other name").c_str(), 0600), 0);

    DWORD endCode = 0;
    EXPECT_EQ(listAll(scratch.path("tree/grown"), endCode).count("new"), 1u);
    EXPECT_EQ(listAll(scratch.path("tree/shrunk"), endCode).count("leaving"), 0u);
    EXPECT_EQ(listAll(scratch.path("tree/swapped"), endCode).count("in the new one"), 1u);
    Listing linked = listAll(scratch.path("tree/linked"), endCode);
    ASSERT_EQ(linked.count("one name"), 1u);
    EXPECT_EQ(linked["one name"].posixMode, 0600u);
}

}  // namespace
}  // namespace posix
