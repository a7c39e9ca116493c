// Copies of sources with holes, through the file copy that skips them.
#include "transfer/hole_skip.h"

#include <string>
#include <vector>

#include "transfer/file_copy.h"
#include "transfer/transfer_test_fixture.h"

namespace {

constexpr off_t kMiB = 1024 * 1024;

struct Piece {
    off_t offset;
    std::string data;
};

// A file of `size` bytes holding only `pieces`; the rest is holes.
void makeSparse(const std::string& path, off_t size, const std::vector<Piece>& pieces) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (const Piece& piece : pieces)
        ASSERT_EQ(pwrite(fd, piece.data.data(), piece.data.size(), piece.offset),
                  static_cast<ssize_t>(piece.data.size()));
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

using HoleCopyTest = TransferTest;

TEST_F(HoleCopyTest, HolesStayHolesAndEveryByteIsEqual) {
    // A hole first, data across a block boundary, a hole last: the copy must
    // skip at the start, cut a block at the data's end and give the size.
    makeSparse(source("sparse"), 64 * kMiB,
               {{3 * kMiB, std::string(5000, 'a')}, {20 * kMiB - 100, blockPattern(200000)}});
    copyFile(source("sparse").c_str(), target("sparse").c_str());
    EXPECT_EQ(runState.exceptionCount, 0) << logText();
    struct stat from = statusOf(source("sparse")), to = statusOf(target("sparse"));
    EXPECT_EQ(to.st_size, from.st_size);
    EXPECT_LE(to.st_blocks, from.st_blocks + from.st_blocks / 20);
    EXPECT_EQ(readFile(target("sparse")), readFile(source("sparse")));
    // The file's bytes count, holes included, as they do in a trial run.
    EXPECT_EQ(runState.bytesCopied, 64.0 * 1024 * 1024);
    EXPECT_EQ(runState.totalFilesCopied, 1);
}

TEST_F(HoleCopyTest, AFileThatIsAllHoleIsCopiedAsOne) {
    makeSparse(source("empty"), 16 * kMiB, {});
    copyFile(source("empty").c_str(), target("empty").c_str());
    struct stat to = statusOf(target("empty"));
    EXPECT_EQ(to.st_size, 16 * kMiB);
    EXPECT_EQ(to.st_blocks, 0);
    EXPECT_EQ(runState.totalFilesCopied, 1);
}

TEST_F(HoleCopyTest, ATrialRunCountsWhatTheCopyWould) {
    makeSparse(source("sparse"), 32 * kMiB, {{kMiB, "data"}});
    runState.trialRun = true;
    copyFile(source("sparse").c_str(), target("sparse").c_str());
    EXPECT_FALSE(fileExists(target("sparse")));
    EXPECT_EQ(runState.bytesCopied, 32.0 * 1024 * 1024);
}

}  // namespace
