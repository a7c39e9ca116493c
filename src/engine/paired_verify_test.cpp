#include "engine/paired_verify.h"

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/search_pattern.h"
#include "transfer/transfer_test_fixture.h"

namespace {

// What a verify of one folder leaves behind.
struct Outcome {
    std::string log;
    std::vector<std::string> exceptions, busy;
    uint32_t filesProcessed = 0;
    int32_t filesCopied = 0;
    double bytes = 0;
};

class PairedVerifyTest : public TransferTest {
protected:
    void add(const std::string& name, const std::string& sourceContent,
             const std::string& targetContent) {
        writeFile(source(name), sourceContent);
        writeFile(target(name), targetContent);
        listed(name, sourceContent.size());
    }
    void listed(const std::string& name, uint64_t size) {
        names.push_back(name);
        sizes.push_back(size);
    }
    // A fresh run state and log for each verify of the same folder.
    Outcome verifyWithDelay(int32_t delay, const std::string& logName) {
        restartRun(dir / logName, delay);
        std::vector<FileToVerify> files;
        // Each listed as a plain file, whatever it has become since.
        for (size_t i = 0; i < names.size(); ++i)
            files.push_back({names[i].c_str(), sizes[i], FILE_ATTRIBUTE_ARCHIVE});
        std::string sourcePattern = sourceDir + "/*.*", targetPattern = targetDir + "/*.*";
        SearchPattern sourceFolder(sourcePattern.c_str(), 1);
        SearchPattern targetFolder(targetPattern.c_str(), 2);
        verifyFolderFiles(sourceFolder, targetFolder, files);
        return {logText(),
                described(runState.exceptionList),
                described(runState.busyList),
                runState.filesProcessed,
                runState.totalFilesCopied,
                runState.bytesCopied};
    }
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
};

void expectSameOutcome(const Outcome& shared, const Outcome& alone) {
    EXPECT_EQ(shared.log, alone.log);
    EXPECT_EQ(shared.exceptions, alone.exceptions);
    EXPECT_EQ(shared.busy, alone.busy);
    EXPECT_EQ(shared.filesProcessed, alone.filesProcessed);
    EXPECT_EQ(shared.filesCopied, alone.filesCopied);
    EXPECT_EQ(shared.bytes, alone.bytes);
}

// Whichever thread compares a pair, the log, the lists and the counters are
// those of verifying the folder pair by pair in listing order.
TEST_F(PairedVerifyTest, SharedComparisonReportsAsTheWalkAloneWould) {
    for (int i = 0; i < 24; ++i) {
        const std::string name = "equal" + std::to_string(i);
        add(name, blockPattern(1000 + i * 20000), blockPattern(1000 + i * 20000));
        if (i == 5) {
            std::string changed = blockPattern(300000);
            changed[299999] = 'x';
            add("last byte differs", blockPattern(300000), changed);
        }
        if (i == 9) add("longer target", "abc", "abcd");
        if (i == 13) {
            writeFile(source("no target"), "lonely");
            listed("no target", 6);
        }
        if (i == 17) listed("no source", 10);
    }
    // Compared in parts: equal, and differing in its last part only.
    add("in parts", blockPattern((5 << 20) / 2), blockPattern((5 << 20) / 2));
    std::string lateChange = blockPattern(3 << 20);
    lateChange[(5 << 20) / 2] = 'x';
    add("differs in its last part", blockPattern(3 << 20), lateChange);
    add("over the shared size", blockPattern(17 << 20), blockPattern(17 << 20));
    add("empty", "", "");
    add("busy target", "same", "same");
    ForeignLock writer(target("busy target"), LOCK_EX);
    // Listed as plain files, but no longer such where they are opened: a
    // link is compared as itself, never as the file it leads to, and a FIFO
    // is never read.
    add("target is a link", "linked", "");
    writeFile(dir / "outside", "linked");
    std::filesystem::remove(target("target is a link"));
    std::filesystem::create_symlink(dir / "outside", target("target is a link"));
    add("source is a link", "", "linked");
    std::filesystem::remove(source("source is a link"));
    std::filesystem::create_symlink(dir / "outside", source("source is a link"));
    add("target is a FIFO", "same", "");
    std::filesystem::remove(target("target is a FIFO"));
    ASSERT_EQ(mkfifo(target("target is a FIFO").c_str(), 0600), 0);
    add("source is a FIFO", "", "same");
    std::filesystem::remove(source("source is a FIFO"));
    ASSERT_EQ(mkfifo(source("source is a FIFO").c_str(), 0600), 0);

    const uint64_t besideBefore = pairsComparedBeside();
    Outcome shared = verifyWithDelay(-1, "shared.log");
    // The second thread may not wake before the walk's thread is done with a
    // folder this small: verify it again until it has taken part.
    for (int round = 0; round < 50 && pairsComparedBeside() == besideBefore; ++round)
        shared = verifyWithDelay(-1, "shared.log");
    EXPECT_GT(pairsComparedBeside(), besideBefore);
    Outcome alone = verifyWithDelay(1, "alone.log");

    expectSameOutcome(shared, alone);
    EXPECT_EQ(alone.filesCopied, 27);
    EXPECT_EQ(alone.exceptions.size(), 9u);
    EXPECT_EQ(alone.busy.size(), 1u);
}

}  // namespace
