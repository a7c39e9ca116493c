#include "engine/paired_copy.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/search_pattern.h"
#include "platform/cancel_signals.h"
#include "platform/fault_injection.h"
#include "transfer/transfer_test_fixture.h"

namespace {

namespace faults = platform::faults;
using faults::Call;
using faults::Fault;

// What a copy of one folder leaves behind, in the log, the lists, the
// counters and the target.
struct Outcome {
    std::string log;
    std::vector<std::string> exceptions, busy, recopy;
    uint32_t filesProcessed = 0, filesCreated = 0;
    int32_t filesCopied = 0, clusters = 0, filesReplaced = 0;
    double bytes = 0;
    std::vector<std::string> targetFiles;  // name, mode, time and contents
};

void expectSameOutcome(const Outcome& shared, const Outcome& alone) {
    EXPECT_EQ(shared.log, alone.log);
    EXPECT_EQ(shared.exceptions, alone.exceptions);
    EXPECT_EQ(shared.busy, alone.busy);
    EXPECT_EQ(shared.recopy, alone.recopy);
    EXPECT_EQ(shared.filesProcessed, alone.filesProcessed);
    EXPECT_EQ(shared.filesCreated, alone.filesCreated);
    EXPECT_EQ(shared.filesCopied, alone.filesCopied);
    EXPECT_EQ(shared.clusters, alone.clusters);
    EXPECT_EQ(shared.filesReplaced, alone.filesReplaced);
    EXPECT_EQ(shared.bytes, alone.bytes);
    EXPECT_EQ(shared.targetFiles, alone.targetFiles);
}

class PairedCopyTest : public TransferTest {
protected:
    void add(const std::string& name, const std::string& content, mode_t mode = 0644) {
        writeFile(source(name), content);
        ASSERT_EQ(chmod(source(name).c_str(), mode), 0);
        listed(name, content.size());
    }
    void listed(const std::string& name, uint64_t size) {
        names.push_back(name);
        sizes.push_back(size);
    }

    // The target as the listing found it: empty but for a name taken since.
    void resetTarget() {
        std::filesystem::remove_all(targetDir);
        std::filesystem::create_directory(targetDir);
        for (const std::string& name : taken) writeFile(target(name), "an older copy");
    }

    std::vector<std::string> targetFiles() const {
        std::vector<std::string> files;
        for (const auto& item : std::filesystem::directory_iterator(targetDir)) {
            struct stat status {};
            EXPECT_EQ(lstat(item.path().c_str(), &status), 0);
            files.push_back(item.path().filename().string() + "|" +
                            std::to_string(status.st_mode) + "|" +
                            std::to_string(status.st_mtim.tv_sec) + "." +
                            std::to_string(status.st_mtim.tv_nsec) + "|" +
                            readFile(item.path()));
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // A fresh run state, log and target for each copy of the same folder; a
    // delay keeps the walk to copying alone.
    Outcome copyWithDelay(int32_t delay, const std::string& logName) {
        resetTarget();
        restartRun(dir / logName, delay);
        std::vector<FileToCopy> files;
        for (size_t i = 0; i < names.size(); ++i)
            files.push_back({names[i].c_str(), sizes[i], nullptr, false});
        std::string sourcePattern = sourceDir + "/*.*", targetPattern = targetDir + "/*.*";
        SearchPattern sourceFolder(sourcePattern.c_str(), 1);
        SearchPattern targetFolder(targetPattern.c_str(), 2);
        copyFolderFiles(sourceFolder, targetFolder, files);
        return {logText(),
                described(runState.exceptionList),
                described(runState.busyList),
                described(runState.recopyList),
                runState.filesProcessed,
                runState.filesCreated,
                runState.totalFilesCopied,
                runState.estimatedClusters,
                runState.totalFilesDeleted,
                runState.bytesCopied,
                targetFiles()};
    }

    // Copies the folder until the second thread has taken part: it may not
    // wake before the walk's thread is done with a folder this small.
    Outcome copyShared() {
        const uint64_t besideBefore = filesCopiedBeside();
        Outcome shared = copyWithDelay(-1, "shared.log");
        for (int round = 0; round < 50 && filesCopiedBeside() == besideBefore; ++round)
            shared = copyWithDelay(-1, "shared.log");
        EXPECT_GT(filesCopiedBeside(), besideBefore);
        return shared;
    }

    std::vector<std::string> names, taken;
    std::vector<uint64_t> sizes;
};

// Whichever thread copies a file, the log, the lists, the counters and the
// target are those of copying the folder file by file in listing order;
// what the copy beside the walk cannot finish, the walk's own copy meets.
TEST_F(PairedCopyTest, SharedCopyReportsAsTheWalkAloneWould) {
    for (int i = 0; i < 24; ++i) {
        add("file " + std::to_string(i), blockPattern(1000 + i * 20000), i % 3 ? 0644 : 0750);
        if (i == 5) add("empty", "");
        if (i == 9) listed("no source", 10);
        if (i == 13) {
            add("name taken", "the new copy");
            taken.push_back("name taken");
        }
        if (i == 17) add("busy source", "in use");
        if (i == 21) add("refuses attributes", "tagged");
    }
    add("over the shared size", blockPattern(17 << 20));
    ForeignLock writer(source("busy source"), LOCK_EX);
    ASSERT_EQ(setxattr(source("refuses attributes").c_str(), "user.tag", "v", 1, 0), 0);
    faults::Scope disarm;
    faults::arm(Fault(Call::SetExtendedAttribute, ERROR_ACCESS_DENIED)
                    .onPath("refuses attributes")
                    .always());

    Outcome shared = copyShared();
    Outcome alone = copyWithDelay(1, "alone.log");

    expectSameOutcome(shared, alone);
    EXPECT_EQ(alone.filesCopied, 28);
    EXPECT_EQ(alone.busy.size(), 1u);
    EXPECT_EQ(alone.exceptions.size(), 1u);  // the missing source
    EXPECT_NE(alone.log.find("Extended attributes not carried"), std::string::npos) << alone.log;
    EXPECT_EQ(alone.targetFiles.size(), 28u);
}

// A failure that does not last (a full disk that frees again) costs the
// copy beside the walk, which leaves nothing behind; the walk's own copy then
// succeeds, and the run is as if nothing had failed.
TEST_F(PairedCopyTest, AFailureMetBesideTheWalkLeavesNoTrace) {
    for (int i = 0; i < 8; ++i) add("file " + std::to_string(i), blockPattern(300000 + i));
    Outcome clean = copyWithDelay(1, "clean.log");

    faults::Scope disarm;
    const uint64_t besideBefore = filesCopiedBeside();
    Outcome shared;
    int firings = 0;
    // Two files fail once, some blocks on, so that a partial copy would be
    // left to remove; the others can be copied beside the walk.
    for (int round = 0; round < 50 && filesCopiedBeside() == besideBefore; ++round) {
        faults::disarmAll();
        std::vector<int> ids;
        for (int i = 0; i < 8; i += 4) {
            const std::string name = "file " + std::to_string(i);
            faults::arm(
                Fault(Call::CopyFileRange, ERROR_DISK_FULL).onPath(name).skip(1).moving(1000));
            ids.push_back(faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL).onPath(name)));
        }
        shared = copyWithDelay(-1, "shared.log");
        firings = 0;
        for (int id : ids) firings += faults::firings(id);
    }
    EXPECT_GT(filesCopiedBeside(), besideBefore);
    EXPECT_EQ(firings, 2);
    expectSameOutcome(shared, clean);
    EXPECT_EQ(shared.targetFiles.size(), 8u);
}

// Cancel during the shared copies: every copy already in place is told in
// the log before the run ends, and nothing half-written stays in the target.
// (The death test's child is forked, without the side thread that an earlier
// test may have started; the walk's thread then takes every file, through
// the same copies and the same telling.)
TEST_F(PairedCopyTest, CancelTellsEveryCopyInPlaceAndLeavesNoPartialOne) {
    ForkingDeathTests forking;
    for (int i = 0; i < 12; ++i) add("file " + std::to_string(i), blockPattern(400000 + i));
    faults::Scope disarm;
    EXPECT_EXIT(
        {
            // As the sixth file, largest first, is made.
            faults::arm(Fault(Call::CreateFile, 0).onExactPath(target("file 6")).then([] {
                runState.cancelRequested = platform::kCancelConfirmed;
            }));
            copyWithDelay(-1, "cancelled.log");
        },
        testing::ExitedWithCode(1), "Program terminated due to Cancel");
    const std::string log = readFile(dir / "cancelled.log");
    size_t told = 0;
    for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++told;
    std::vector<std::string> made;
    for (const auto& item : std::filesystem::directory_iterator(targetDir)) {
        const std::string name = item.path().filename();
        made.push_back(name);
        EXPECT_EQ(readFile(item.path()), readFile(source(name))) << name;
        EXPECT_NE(log.find(source(name) + "\" \"" + target(name) + "\"\r\n"),
                  std::string::npos)
            << name << " is in place but not told\n"
            << log;
    }
    EXPECT_EQ(told, made.size()) << log;
    EXPECT_FALSE(made.empty());
}

}  // namespace
