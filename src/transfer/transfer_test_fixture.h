// Shared by the copy, verify and retry tests: a fresh run state with its
// transfer buffers and an open log, source and target folders, foreign locks.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "report/log_file.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "test_support.h"

class TransferTest : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        runState.transferBuffer1 = static_cast<char*>(heapAllocate(131072));
        runState.transferBuffer2 = static_cast<char*>(heapAllocate(131072));
        runState.delayOpen = runState.delaySource = runState.delayTarget = -1;
        runState.logFileName.assign(logPath.c_str());
        openLog();
        ASSERT_EQ(mkdir(sourceDir.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(targetDir.c_str(), 0755), 0);
    }
    void TearDown() override {
        closeLog();
        resetRunState();
    }
    std::string logText() {
        flushLog();
        return readFile(logPath + ".~~~");
    }
    // A fresh run state, with its buffers, and a fresh log at `path`, for
    // another run over the same folders; `delayTarget` as the switch gives it.
    void restartRun(const std::string& path, int32_t delayTarget) {
        TearDown();
        runState.transferBuffer1 = static_cast<char*>(heapAllocate(RunState::kTransferBufferSize));
        runState.transferBuffer2 = static_cast<char*>(heapAllocate(RunState::kTransferBufferSize));
        runState.delayOpen = runState.delaySource = -1;
        runState.delayTarget = delayTarget;
        logPath = path;
        runState.logFileName.assign(logPath.c_str());
        openLog();
    }
    std::string source(const std::string& name) const { return sourceDir + "/" + name; }
    std::string target(const std::string& name) const { return targetDir + "/" + name; }

    TempDir dir;
    std::string logPath = dir / "run.log";
    std::string sourceDir = dir / "source";
    std::string targetDir = dir / "target";
};

// A list's entries, one line each: both names, the code and the message.
inline std::vector<std::string> described(const EntryList& list) {
    std::vector<std::string> lines;
    for (int32_t i = 0; i < list.count; ++i) {
        const ListEntry& entry = list.entries[i];
        lines.push_back(std::string(entry.firstName) + "|" + entry.secondName + "|" +
                        std::to_string(entry.code) + "|" + std::to_string(entry.messageIndex));
    }
    return lines;
}

// Differs from block to block, so that a block written twice or left out shows.
inline std::string blockPattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + i / 131072 * 13 + 1));
    return text;
}

// A flock lock held by another open file description, as another program's.
struct ForeignLock {
    ForeignLock(const std::string& path, int operation) : fd(open(path.c_str(), O_RDONLY)) {
        EXPECT_EQ(flock(fd, operation | LOCK_NB), 0);
    }
    ~ForeignLock() { release(); }
    void release() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    int fd;
};

// Forks at the statement, so that the child works in the parent's folders.
struct ForkingDeathTests {
    ForkingDeathTests() { GTEST_FLAG_SET(death_test_style, "fast"); }
    ~ForkingDeathTests() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
