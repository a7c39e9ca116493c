#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "platform/copy_offload.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

HANDLE openSource(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE createTarget(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_ARCHIVE, nullptr);
}

std::string contentOf(const std::string& path) {
    HANDLE file = openSource(path);
    std::string content;
    char block[4096];
    DWORD count = 0;
    while (ReadFile(file, block, sizeof block, &count, nullptr) && count > 0)
        content.append(block, count);
    CloseHandle(file);
    return content;
}

std::string pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return text;
}

TEST(CopyFileRange, CopiesBlockByBlockAndTellsTheEnd) {
    ScratchFolder scratch;
    const std::string content = pattern(300000);
    std::string source = scratch.file("source", content);
    HANDLE from = openSource(source);
    HANDLE to = createTarget(scratch.path("target"));
    ASSERT_NE(from, INVALID_HANDLE_VALUE);
    ASSERT_NE(to, INVALID_HANDLE_VALUE);
    DWORD copied = 0;
    DWORD total = 0;
    // The offload may be refused (an older kernel); the plain copy is the rest.
    bool offloaded = platform::copyFileRange(from, to, 131072, &copied) != FALSE;
    total += copied;
    if (offloaded) {
        EXPECT_EQ(copied, 131072u);
        ASSERT_TRUE(platform::copyFileRange(from, to, 131072, &copied));
        EXPECT_EQ(copied, 131072u);
        total += copied;
        ASSERT_TRUE(platform::copyFileRange(from, to, 131072, &copied));
        EXPECT_EQ(copied, 300000u - 262144u);
        total += copied;
        // At the end nothing is copied, and a plain read has the last word.
        EXPECT_FALSE(platform::copyFileRange(from, to, 131072, &copied));
        EXPECT_EQ(copied, 0u);
        EXPECT_EQ(total, 300000u);
    }
    CloseHandle(from);
    CloseHandle(to);
    if (offloaded) {
        EXPECT_EQ(contentOf(scratch.path("target")), content);
    }
}

TEST(CopyFileRange, RefusesALinkHandle) {
    ScratchFolder scratch;
    scratch.file("file", "text");
    ASSERT_EQ(symlink("file", scratch.path("link").c_str()), 0);
    HANDLE from = openSource(scratch.path("link"));
    HANDLE to = createTarget(scratch.path("target"));
    ASSERT_NE(from, INVALID_HANDLE_VALUE);
    ASSERT_NE(to, INVALID_HANDLE_VALUE);
    DWORD copied = 7;
    EXPECT_FALSE(platform::copyFileRange(from, to, 131072, &copied));
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(from);
    CloseHandle(to);
}

TEST(CopyFileRange, RefusesAnEmptySourceSoThatAReadDecides) {
    ScratchFolder scratch;
    std::string source = scratch.file("empty", "");
    HANDLE from = openSource(source);
    HANDLE to = createTarget(scratch.path("target"));
    DWORD copied = 7;
    EXPECT_FALSE(platform::copyFileRange(from, to, 131072, &copied));
    EXPECT_EQ(copied, 0u);
    CloseHandle(from);
    CloseHandle(to);
}

// What the target's handle says of it after an offload is what the offload
// made of it, not what the handle saw before.
TEST(CopyFileRange, TheTargetIsDescribedAsTheOffloadLeftIt) {
    ScratchFolder scratch;
    std::string source = scratch.file("source", pattern(3000));
    std::string target = scratch.file("target", "old");
    HANDLE from = openSource(source);
    HANDLE to = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(from, INVALID_HANDLE_VALUE);
    ASSERT_NE(to, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(to, &info));
    EXPECT_EQ(info.nFileSizeLow, 3u);
    DWORD copied = 0;
    if (platform::copyFileRange(from, to, 3000, &copied)) {
        EXPECT_EQ(copied, 3000u);
        ASSERT_TRUE(GetFileInformationByHandle(to, &info));
        EXPECT_EQ(info.nFileSizeLow, 3000u);
    }
    CloseHandle(from);
    CloseHandle(to);
}

}  // namespace
}  // namespace posix
