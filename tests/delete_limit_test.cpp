// The delete limit end to end: a source that went empty by mistake must not
// take the target with it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

void makeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Every entry below a folder, the folder itself not included.
int entriesBelow(const std::string& folder) {
    int n = 0;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
         ++it)
        ++n;
    return n;
}

// The number a statistics line of the log ends in.
int statistic(const std::string& text, const std::string& label) {
    size_t at = text.find(label);
    if (at == std::string::npos) return -1;
    return std::stoi(text.substr(at + label.size()));
}

class DeleteLimitTest : public testing::Test {
protected:
    // A source of 30 entries (6 folders, 24 files), mirrored once.
    void SetUp() override {
        makeFolder(source);
        for (int f = 0; f < 3; ++f) {
            std::string folder = source + "/folder" + std::to_string(f);
            makeFolder(folder);
            makeFolder(folder + "/sub");
            for (int i = 0; i < 4; ++i) {
                writeFile(folder + "/file" + std::to_string(i), "content " + std::to_string(i));
                writeFile(folder + "/sub/file" + std::to_string(i), "deeper " + std::to_string(i));
            }
        }
        ASSERT_EQ(mirror().exitCode, 0);
        ASSERT_EQ(entriesBelow(target), kEntries);
    }
    RunResult mirror(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {source, target, log, "-nowarn"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runKaz(args);
    }
    void emptySource() {
        fs::remove_all(source);
        makeFolder(source);
    }
    // Removals as the run summary counts them.
    int removalsCounted(const std::string& text) {
        return statistic(text, ": Total files deleted:          ") +
               statistic(text, ": Total directories deleted:    ");
    }

    static constexpr int kEntries = 30;
    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string log = dir / "run.log";
};

}  // namespace

TEST_F(DeleteLimitTest, EmptiedSourceRemovesNoMoreThanTheLimitAndSaysWhy) {
    emptySource();
    RunResult r = mirror({"-limitDelete=10"});
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_EQ(entriesBelow(target), kEntries - 10);
    std::string text = readFile(log);
    EXPECT_EQ(removalsCounted(text), 10) << text;
    EXPECT_EQ(count(text, ": KAZ - Delete limit of 10 reached, nothing more is removed\r\n"), 1)
        << text;
    EXPECT_NE(text.find(": KAZ - Delete limit of 10 reached: 20 entries not removed\r\n"),
              std::string::npos)
        << text;
    // No entry the limit kept is taken for a failure.
    EXPECT_EQ(text.find("Exception List"), std::string::npos) << text;

    // The next run goes on from what is left, up to the limit again.
    r = mirror({"-lim=15"});
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_EQ(entriesBelow(target), kEntries - 25);
    r = mirror({"--LIMITDELETE=5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(entriesBelow(target), 0);
}

// Copies go on whatever the limit keeps; a changed file is replaced, which
// removes no entry.
TEST_F(DeleteLimitTest, ZeroRemovesNothingButNewAndChangedFilesAreCopied) {
    fs::remove_all(source + "/folder1");
    ::unlink((source + "/folder0/file0").c_str());
    writeFile(source + "/folder0/file1", "changed, and longer than before");
    writeFile(source + "/folder2/sub/new", "new");
    RunResult r = mirror({"-limitDelete=0"});
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_EQ(entriesBelow(target), kEntries + 1);
    EXPECT_EQ(readFile(target + "/folder0/file0"), "content 0");
    EXPECT_EQ(readFile(target + "/folder0/file1"), "changed, and longer than before");
    EXPECT_EQ(readFile(target + "/folder2/sub/new"), "new");
    std::string text = readFile(log);
    EXPECT_EQ(statistic(text, ": Total directories deleted:    "), 0) << text;
    EXPECT_NE(text.find(": Kept by the delete limit: " + target + "/folder1\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": Kept by the delete limit: " + target + "/folder0/file0\r\n"),
              std::string::npos);
    EXPECT_NE(text.find(": KAZ - Delete limit of 0 reached: 11 entries not removed\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Exception List"), std::string::npos) << text;
}

// A target entry of the other kind than the source's must go before the
// source's can be copied; kept by the limit, it stays and the source entry
// waits, without an error.
TEST_F(DeleteLimitTest, AnEntryThatMustChangeKindStaysWhole) {
    fs::remove_all(source + "/folder0");
    writeFile(source + "/folder0", "now a file");
    ::unlink((source + "/folder1/file0").c_str());
    makeFolder(source + "/folder1/file0");
    writeFile(source + "/folder1/file0/inside", "inside");
    RunResult r = mirror({"-limitDelete=0"});
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_EQ(entriesBelow(target + "/folder0"), 9);
    EXPECT_EQ(readFile(target + "/folder1/file0"), "content 0");
    std::string text = readFile(log);
    EXPECT_EQ(text.find("Exception List"), std::string::npos) << text;
    EXPECT_NE(text.find(": KAZ - Delete limit of 0 reached: 11 entries not removed\r\n"),
              std::string::npos)
        << text;

    r = mirror();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(target + "/folder0"), "now a file");
    EXPECT_EQ(readFile(target + "/folder1/file0/inside"), "inside");
}

TEST_F(DeleteLimitTest, TrialRunReportsTheExcessAndChangesNothing) {
    emptySource();
    std::string listing = "find '" + target + "' -printf '%p %s %T@ %C@ %m %y\\n' | sort";
    std::string before = shell(listing);
    RunResult r = mirror({"-trialRun", "-limitDelete=10"});
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_EQ(shell(listing), before);
    std::string text = readFile(log);
    EXPECT_EQ(count(text, "\r\nDEL ") + count(text, "\r\nRMDIR "), 10) << text;
    EXPECT_NE(text.find(": KAZ - Delete limit of 10 reached: 20 entries would not be removed\r\n"),
              std::string::npos)
        << text;
}

// The limit's lines are comments: a verify replay of the log passes over
// them and verifies exactly what the run copied.
TEST_F(DeleteLimitTest, LogOfALimitedRunReplays) {
    fs::remove_all(source + "/folder1");
    writeFile(source + "/folder0/new", "new");
    ASSERT_EQ(mirror({"-limitDelete=0"}).exitCode, kRunIncomplete);
    std::string replayLog = dir / "replay.log";
    RunResult r = runKaz({"@" + log, replayLog, "-nowarn", "-verify"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string text = readFile(replayLog);
    EXPECT_NE(text.find(": Total files verified:         1\r\n"), std::string::npos) << text;
}
