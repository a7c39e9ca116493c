#include "engine/delete_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "report/log_file.h"
#include "report/run_state.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class DeleteLimit : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        runState.delayOpen = -1;
        runState.logFileName.assign(log.c_str());
        openLog();
        // old/ holds 5 files and 2 folders: 7 entries, and itself an 8th.
        ::mkdir(old.c_str(), 0755);
        ::mkdir((old + "/a").c_str(), 0755);
        ::mkdir((old + "/a/b").c_str(), 0755);
        for (const char* name : {"/1", "/2", "/a/3", "/a/4", "/a/b/5"}) writeFile(old + name, name);
    }
    void TearDown() override {
        closeLog();
        resetRunState();
    }
    std::string logText() {
        flushLog();
        return readFile(log + ".~~~");
    }
    static WIN32_FIND_DATAA entryOf(const std::string& path) {
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA(path.c_str(), &entry);
        EXPECT_NE(find, INVALID_HANDLE_VALUE) << path;
        FindClose(find);
        return entry;
    }
    int remove(const std::string& path) { return removeTargetEntry(path.c_str(), entryOf(path)); }
    // Entries left below and including `path`.
    static uint32_t entriesIn(const std::string& path) {
        if (!fs::exists(fs::symlink_status(path))) return 0;
        uint32_t count = 1;
        if (fs::is_directory(path)) {
            for (auto it = fs::recursive_directory_iterator(path);
                 it != fs::recursive_directory_iterator(); ++it)
                ++count;
        }
        return count;
    }
    static size_t occurrences(const std::string& text, const std::string& part) {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }

    TempDir dir;
    std::string log = dir / "run.log";
    std::string old = dir / "old";
};

TEST_F(DeleteLimit, WithoutALimitAFolderGoesWholeAndEveryEntryCounts) {
    EXPECT_EQ(remove(old), 1);
    EXPECT_FALSE(fileExists(old));
    EXPECT_EQ(runState.entriesRemoved, 8u);
    EXPECT_EQ(runState.entriesRemoved, runState.filesDeleted + runState.foldersDeleted);
    EXPECT_EQ(runState.entriesKeptByLimit, 0u);
    EXPECT_EQ(deleteLimitReport(), "");
    EXPECT_EQ(logText().find("limit"), std::string::npos);
}

// Entries go one by one until the limit; what is left keeps its folders.
TEST_F(DeleteLimit, AFolderIsRemovedUpToTheLimitAndKeepsTheRest) {
    for (int32_t limit : {0, 1, 3, 6, 7}) {
        SCOPED_TRACE(limit);
        TearDown();
        fs::remove_all(old);
        SetUp();
        runState.limitDelete = limit;
        EXPECT_EQ(remove(old), kKeptByLimit);
        EXPECT_EQ(runState.entriesRemoved, static_cast<uint32_t>(limit));
        EXPECT_EQ(entriesIn(old), 8u - limit);
        EXPECT_EQ(runState.entriesKeptByLimit, 8u - limit);
        EXPECT_EQ(runState.filesDeleted + runState.foldersDeleted, static_cast<uint32_t>(limit));
        std::string text = logText();
        EXPECT_EQ(occurrences(text, ": KAZ - Delete limit of " + std::to_string(limit) +
                                        " reached, nothing more is removed\r\n"),
                  1u)
            << text;
        EXPECT_EQ(occurrences(text, ": Kept by the delete limit: " + old + "\r\n"), 1u) << text;
        EXPECT_EQ(deleteLimitReport(), "Delete limit of " + std::to_string(limit) + " reached: " +
                                           std::to_string(8 - limit) + " entries not removed");
    }
}

TEST_F(DeleteLimit, ALimitAsLargeAsTheTreeRemovesItAll) {
    runState.limitDelete = 8;
    EXPECT_EQ(remove(old), 1);
    EXPECT_FALSE(fileExists(old));
    EXPECT_EQ(runState.entriesKeptByLimit, 0u);
    EXPECT_EQ(deleteLimitReport(), "");
}

// The limit spans the run, not one call.
TEST_F(DeleteLimit, CountsAcrossEntriesAndKeepsASingleFileWhole) {
    runState.limitDelete = 9;
    EXPECT_EQ(remove(old), 1);
    std::string single = dir / "single";
    writeFile(single, "x");
    EXPECT_EQ(remove(single), 1);
    writeFile(single, "y");
    EXPECT_EQ(remove(single), kKeptByLimit);
    EXPECT_EQ(readFile(single), "y");
    EXPECT_EQ(runState.entriesRemoved, 9u);
    EXPECT_EQ(runState.entriesKeptByLimit, 1u);
    EXPECT_NE(logText().find(": Kept by the delete limit: " + single + "\r\n"), std::string::npos);
}

// A trial run counts what would go, single files included, and tells what
// the limit would keep.
TEST_F(DeleteLimit, TrialRunCountsTheExcessAndRemovesNothing) {
    runState.trialRun = 1;
    runState.limitDelete = 3;
    std::string single = dir / "single";
    writeFile(single, "x");
    EXPECT_EQ(remove(single), 1);
    EXPECT_EQ(remove(old), kKeptByLimit);
    EXPECT_TRUE(fileExists(single));
    EXPECT_EQ(entriesIn(old), 8u);
    EXPECT_EQ(runState.entriesRemoved, 3u);
    EXPECT_EQ(runState.entriesKeptByLimit, 6u);
    // Script lines begin a line; the first one begins the log.
    std::string text = "\n" + logText();
    EXPECT_EQ(occurrences(text, "\nDEL ") + occurrences(text, "\nRMDIR "), 3u) << text;
    EXPECT_EQ(deleteLimitReport(), "Delete limit of 3 reached: 6 entries would not be removed");
}

// A removal that fails removes nothing, so it takes nothing from the limit.
TEST_F(DeleteLimit, AFailedRemovalIsNotCounted) {
    std::string gone = dir / "gone";
    writeFile(gone, "x");
    WIN32_FIND_DATAA entry = entryOf(gone);
    fs::remove(gone);
    runState.limitDelete = 1;
    EXPECT_EQ(removeTargetEntry(gone.c_str(), entry), 0);
    EXPECT_EQ(runState.entriesRemoved, 0u);
    writeFile(gone, "y");
    EXPECT_EQ(remove(gone), 1);
    EXPECT_FALSE(fileExists(gone));
}

}  // namespace
