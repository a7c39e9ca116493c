#include "platform/fault_injection.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "platform/copy_offload.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace {

namespace faults = platform::faults;
using faults::Call;
using faults::Fault;

class FaultLayerTest : public testing::Test {
protected:
    void TearDown() override { faults::disarmAll(); }

    HANDLE openForReading(const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE create(const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // Reads `count` bytes at the handle's position; the text read, or
    // "<failed N>" with the error.
    std::string readSome(HANDLE file, DWORD count) {
        std::string text(count, '\0');
        DWORD read = 0;
        if (!ReadFile(file, text.data(), count, &read, nullptr))
            return "<failed " + std::to_string(GetLastError()) + ">";
        text.resize(read);
        return text;
    }

    posix::ScratchFolder scratch;
};

// ---- Which call fails ----

TEST_F(FaultLayerTest, NthMatchingCallFailsWithTheCodeAndOnlyThatOne) {
    std::string path = scratch.file("a.txt", "abc");
    int id = faults::arm(Fault(Call::CreateFile, ERROR_ACCESS_DENIED).skip(2));
    for (int call = 0; call < 4; ++call) {
        HANDLE file = openForReading(path);
        if (call == 2) {
            EXPECT_EQ(file, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        } else {
            ASSERT_NE(file, INVALID_HANDLE_VALUE) << "call " << call;
            CloseHandle(file);
        }
    }
    EXPECT_EQ(faults::firings(id), 1);
}

TEST_F(FaultLayerTest, PathMatchesBySubstringOrExactly) {
    std::string kept = scratch.file("keep.txt", "k");
    std::string big = scratch.file("big.bin", "b");
    std::string bigger = scratch.file("big.bin.old", "o");
    int bySubstring =
        faults::arm(Fault(Call::DeleteFile, ERROR_ACCESS_DENIED).onPath("big.bin").always());
    EXPECT_TRUE(DeleteFileA(kept.c_str()));
    EXPECT_FALSE(DeleteFileA(bigger.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA(big.c_str()));
    EXPECT_EQ(faults::firings(bySubstring), 2);
    EXPECT_EQ(posix::ScratchFolder::contentOf(big), "b");

    faults::disarmAll();
    int exact = faults::arm(Fault(Call::DeleteFile, ERROR_ACCESS_DENIED).onExactPath(big));
    EXPECT_TRUE(DeleteFileA(bigger.c_str()));
    EXPECT_FALSE(DeleteFileA(big.c_str()));
    EXPECT_EQ(faults::firings(exact), 1);
    EXPECT_TRUE(DeleteFileA(big.c_str()));
    EXPECT_EQ(access(kept.c_str(), F_OK), -1);
    EXPECT_EQ(access(big.c_str(), F_OK), -1);
    EXPECT_EQ(access(bigger.c_str(), F_OK), -1);
}

TEST_F(FaultLayerTest, FiresTheGivenNumberOfTimesThenLetsCallsThrough) {
    std::string folder = scratch.path("made");
    int id = faults::arm(Fault(Call::CreateDirectory, ERROR_DISK_FULL).repeat(2));
    EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(access(folder.c_str(), F_OK), -1);
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(faults::firings(id), 2);
}

TEST_F(FaultLayerTest, DisarmingRestoresEveryCall) {
    std::string path = scratch.file("a.txt", "abc");
    faults::arm(Fault(Call::CreateFile).always());
    EXPECT_EQ(openForReading(path), INVALID_HANDLE_VALUE);
    faults::disarmAll();
    HANDLE file = openForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readSome(file, 3), "abc");
    CloseHandle(file);
}

TEST_F(FaultLayerTest, MoveMatchesEitherName) {
    std::string from = scratch.file("log.~~~", "log");
    std::string to = scratch.path("log");
    int id = faults::arm(Fault(Call::MoveFile, ERROR_ACCESS_DENIED).onExactPath(to));
    EXPECT_FALSE(MoveFileA(from.c_str(), to.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_EQ(posix::ScratchFolder::contentOf(from), "log");
    EXPECT_EQ(access(to.c_str(), F_OK), -1);
}

// ---- What a failing call leaves behind ----

TEST_F(FaultLayerTest, RefusedCreateLeavesTheExistingFileAsItWas) {
    std::string path = scratch.file("target", "old contents");
    faults::arm(Fault(Call::CreateFile, ERROR_DISK_FULL));
    EXPECT_EQ(create(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(posix::ScratchFolder::contentOf(path), "old contents");
}

TEST_F(FaultLayerTest, ReadErrorInTheMiddleKeepsThePositionOfWhatWasRead) {
    std::string path = scratch.file("data", "0123456789");
    HANDLE file = openForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    faults::arm(Fault(Call::ReadFile, ERROR_IO_DEVICE).skip(1).moving(2));
    EXPECT_EQ(readSome(file, 3), "012");
    // The failing read moves two bytes before it reports the error.
    std::string text(8, '\0');
    DWORD read = 99;
    EXPECT_FALSE(ReadFile(file, text.data(), 8, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(text.substr(0, 2), "34");
    EXPECT_EQ(readSome(file, 8), "56789");
    CloseHandle(file);
}

TEST_F(FaultLayerTest, ShortReadSucceedsWithFewerBytes) {
    std::string path = scratch.file("data", "0123456789");
    HANDLE file = openForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    int id = faults::arm(Fault(Call::ReadFile, 0).moving(4));
    EXPECT_EQ(readSome(file, 10), "0123");
    EXPECT_EQ(readSome(file, 10), "456789");
    EXPECT_EQ(faults::firings(id), 1);
    CloseHandle(file);
}

TEST_F(FaultLayerTest, FullDiskPartWayThroughAWriteLeavesWhatFitted) {
    std::string path = scratch.path("out");
    HANDLE file = create(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL).skip(1).moving(3));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "first-", 6, &written, nullptr));
    EXPECT_FALSE(WriteFile(file, "second", 6, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(written, 3u);
    CloseHandle(file);
    EXPECT_EQ(posix::ScratchFolder::contentOf(path), "first-sec");
}

TEST_F(FaultLayerTest, ShortWriteSucceedsWithFewerBytes) {
    std::string path = scratch.path("out");
    HANDLE file = create(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    faults::arm(Fault(Call::WriteFile, 0).moving(2));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abcdef", 6, &written, nullptr));
    EXPECT_EQ(written, 2u);
    CloseHandle(file);
    EXPECT_EQ(posix::ScratchFolder::contentOf(path), "ab");
}

TEST_F(FaultLayerTest, FailingCloseStillReleasesTheFile) {
    std::string path = scratch.file("held", "x");
    HANDLE file = create(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    faults::arm(Fault(Call::CloseHandle, ERROR_DISK_FULL).onExactPath(path));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    // The exclusive lock went with the descriptor.
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST_F(FaultLayerTest, CopyOffloadFailsAfterTheBytesItMoved) {
    std::string from = scratch.file("from", "0123456789");
    std::string to = scratch.path("to");
    HANDLE source = openForReading(from);
    HANDLE target = create(to);
    ASSERT_NE(source, INVALID_HANDLE_VALUE);
    ASSERT_NE(target, INVALID_HANDLE_VALUE);
    int id = faults::arm(Fault(Call::CopyFileRange, ERROR_DISK_FULL).onExactPath(to).moving(4));
    DWORD copied = 0;
    EXPECT_FALSE(platform::copyFileRange(source, target, 10, &copied));
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(copied, 4u);
    // Both positions are past the bytes moved, as after a real failure.
    EXPECT_EQ(readSome(source, 10), "456789");
    CloseHandle(source);
    CloseHandle(target);
    EXPECT_EQ(posix::ScratchFolder::contentOf(to), "0123");
}

// ---- Listings ----

TEST_F(FaultLayerTest, ListingBreaksOffWithTheCode) {
    scratch.folder("tree");
    scratch.file("tree/a", "");
    scratch.file("tree/b", "");
    std::string pattern = scratch.path("tree/*.*");
    int id = faults::arm(
        Fault(Call::FindNextFile, ERROR_IO_DEVICE).onPath("tree/").skip(1));
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int entries = 1;
    while (FindNextFileA(find, &entry)) ++entries;
    EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
    EXPECT_EQ(entries, 2);  // of ".", "..", "a", "b"
    EXPECT_EQ(faults::firings(id), 1);
    FindClose(find);
}

TEST_F(FaultLayerTest, LookUpOfOneNameFailsLikeAMissingFile) {
    std::string path = scratch.file("there", "");
    faults::arm(Fault(Call::FindFirstFile, ERROR_FILE_NOT_FOUND).onExactPath(path));
    WIN32_FIND_DATAA entry;
    EXPECT_EQ(FindFirstFileA(path.c_str(), &entry), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE find = FindFirstFileA(path.c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
}

// ---- Actions ----

TEST_F(FaultLayerTest, ActionMakesTheNameVanishBeforeTheRealCall) {
    std::string path = scratch.file("vanishing", "gone soon");
    int id = faults::arm(Fault(Call::CreateFile, 0).onPath("vanishing").then([path] {
        unlink(path.c_str());
    }));
    EXPECT_EQ(openForReading(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST_F(FaultLayerTest, ActionMayCallTheBackendItself) {
    std::string path = scratch.file("f", "x");
    std::string other = scratch.file("g", "y");
    faults::arm(Fault(Call::DeleteFile, 0).onExactPath(path).then([other] {
        DeleteFileA(other.c_str());
    }));
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
    EXPECT_EQ(access(other.c_str(), F_OK), -1);
}

}  // namespace
