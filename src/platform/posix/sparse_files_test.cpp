#include "platform/sparse_files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

constexpr off_t kMiB = 1024 * 1024;

// Data at 1 MiB and at 3 MiB, a hole before, between and after: 8 MiB long.
std::string sparseFile(const ScratchFolder& scratch, const std::string& name) {
    std::string path = scratch.path(name);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(pwrite(fd, "first", 5, kMiB), 5);
    EXPECT_EQ(pwrite(fd, "second", 6, 3 * kMiB), 6);
    EXPECT_EQ(ftruncate(fd, 8 * kMiB), 0);
    close(fd);
    return path;
}

HANDLE openReading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(SparseFiles, OnlyAFileSmallerOnDiskThanItsSizeHasHoles) {
    ScratchFolder scratch;
    HANDLE dense = openReading(scratch.file("dense", std::string(100000, 'd')));
    HANDLE sparse = openReading(sparseFile(scratch, "sparse"));
    HANDLE empty = openReading(scratch.file("empty", ""));
    EXPECT_FALSE(platform::hasHoles(dense));
    EXPECT_TRUE(platform::hasHoles(sparse));
    EXPECT_FALSE(platform::hasHoles(empty));
    for (HANDLE file : {dense, sparse, empty}) CloseHandle(file);
}

TEST(SparseFiles, FindsEachStretchOfDataAndLeavesThePositionAlone) {
    ScratchFolder scratch;
    HANDLE file = openReading(sparseFile(scratch, "sparse"));
    uint64_t start = 0, end = 0;
    ASSERT_TRUE(platform::findData(file, 0, &start, &end));
    // File systems keep data in blocks: the stretch holds the bytes written.
    EXPECT_LE(start, uint64_t{kMiB});
    EXPECT_GE(end, uint64_t{kMiB + 5});
    EXPECT_LT(end, uint64_t{3 * kMiB});
    ASSERT_TRUE(platform::findData(file, end, &start, &end));
    EXPECT_LE(start, uint64_t{3 * kMiB});
    EXPECT_GE(end, uint64_t{3 * kMiB + 6});
    ASSERT_TRUE(platform::findData(file, end, &start, &end));
    EXPECT_EQ(start, uint64_t{8 * kMiB});
    EXPECT_EQ(end, uint64_t{8 * kMiB});
    ASSERT_TRUE(platform::findData(file, 9 * kMiB, &start, &end));
    EXPECT_EQ(start, uint64_t{8 * kMiB});

    char bytes[4] = {1, 1, 1, 1};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));
    CloseHandle(file);
}

TEST(SparseFiles, SkippedStretchesStayHolesAndTheSizeIsExact) {
    ScratchFolder scratch;
    HANDLE from = openReading(scratch.file("source", std::string(10, 's') + "tail"));
    std::string targetPath = scratch.path("target");
    HANDLE to = CreateFileA(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
    ASSERT_NE(to, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(platform::allowHoles(to));
    ASSERT_TRUE(platform::skipTo(from, to, 10));
    char tail[4];
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(from, tail, 4, &count, nullptr));
    EXPECT_EQ(std::string(tail, count), "tail");
    ASSERT_TRUE(WriteFile(to, "tail", 4, &count, nullptr));
    ASSERT_TRUE(platform::setFileSize(to, 4 * kMiB));
    CloseHandle(from);
    CloseHandle(to);

    struct stat status;
    ASSERT_EQ(stat(targetPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 4 * kMiB);
    EXPECT_LT(status.st_blocks * 512, 64 * 1024);
    std::string content = ScratchFolder::contentOf(targetPath);
    EXPECT_EQ(content.substr(0, 14), std::string(10, '\0') + "tail");
    EXPECT_EQ(content.find_first_not_of('\0', 14), std::string::npos);
}

}  // namespace
}  // namespace posix
