// Whole runs under injected faults: a full disk, refused opens and removals,
// read errors, names that vanish mid-run, a log that cannot be renamed or
// written, a refused allocation. Each run goes through the run entry in this
// process, so that the faults reach the program's own calls.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/search_pattern.h"
#include "platform/arguments.h"
#include "platform/fault_injection.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "run/run_entry.h"
#include "support/heap.h"
#include "test_support.h"
#include "transfer/file_copy.h"

namespace {

namespace faults = platform::faults;
using faults::Call;
using faults::Fault;

constexpr size_t kBigSize = 3 * 131072 + 100;

// Differs from block to block, so that a block left out or doubled shows.
std::string bigContent() {
    std::string text(kBigSize, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + i / 131072);
    return text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class FaultRunTest : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        std::filesystem::create_directories(source / "sub");
        writeFile(source / "a.txt", "alpha\n");
        writeFile(source / "big.bin", bigContent());
        writeFile(source / "z.txt", "zulu\n");
        writeFile(source / "sub/c.txt", "charlie\n");
    }
    void TearDown() override {
        // A replay leaves its script open for the process's end to close.
        if (runState.scriptHandle != INVALID_HANDLE_VALUE) CloseHandle(runState.scriptHandle);
        runState.scriptHandle = INVALID_HANDLE_VALUE;
        faults::disarmAll();
        setHeapRefusal(-1);
        platform::setProcessArguments(0, nullptr);
        resetRunState();
    }

    // One whole run with the log, asking nothing; the run entry's result.
    int run(std::vector<std::string> extra = {}) {
        std::vector<std::string> all = {source, target, logPath, "-nowarn"};
        all.insert(all.end(), extra.begin(), extra.end());
        return runWith(all);
    }

    // A first run without faults, so that the target holds everything.
    void mirrorFirst() {
        ASSERT_EQ(run(), 0);
        ASSERT_EQ(readFile(target / "sub/c.txt"), "charlie\n");
    }

    std::string log() const { return readFile(logPath); }
    // The log ends with its last block and kept its final name.
    void expectCompleteLog() const {
        EXPECT_FALSE(fileExists(logPath + ".~~~"));
        std::string text = log();
        EXPECT_TRUE(contains(text, ":-------- End of File Copy List --------\r\n")) << text;
        EXPECT_TRUE(contains(text, ": \r\n:COPY\r\n")) << text;
    }
    // The files that the fault did not touch arrived whole.
    void expectOthersCopied() const {
        EXPECT_EQ(readFile(target / "a.txt"), "alpha\n");
        EXPECT_EQ(readFile(target / "z.txt"), "zulu\n");
        EXPECT_EQ(readFile(target / "sub/c.txt"), "charlie\n");
    }
    std::string pair(const std::string& name) const {
        return (source / name).string() + " " + (target / name).string() + "\r\n";
    }

    TempDir dir;
    std::filesystem::path source = std::filesystem::path(dir.path()) / "source";
    std::filesystem::path target = std::filesystem::path(dir.path()) / "target";
    std::string logPath = dir / "run.log";
    InProcessRun runWith;
};

using FaultRunDeathTest = FaultRunTest;

// Arms what makes the copy use plain reads and writes instead of the
// kernel's copy offload.
void refuseCopyOffload() { faults::arm(Fault(Call::CopyFileRange, ERROR_NOT_SUPPORTED).always()); }

// A new file among others in its folder is copied first beside the walk,
// where a failure only declines the copy, and then again by the walk's own
// copy, which meets it as well and says what it found: a fault that stays
// (a full disk, a bad sector) fires once in each.
constexpr int kFiringsOfAFaultThatStays = 2;

// ---- A full disk ----

// With offload and with plain writes: the disk fills part way through the
// big file, and frees again once the partial copy is gone.
class FullDiskTest : public FaultRunTest, public testing::WithParamInterface<bool> {};

TEST_P(FullDiskTest, PartialTargetIsDeletedAndTheRunGoesOn) {
    bool offload = GetParam();
    int id = 0;
    if (offload) {
        id = faults::arm(Fault(Call::CopyFileRange, ERROR_DISK_FULL)
                             .onPath("big.bin")
                             .skip(1)
                             .moving(1000)
                             .repeat(kFiringsOfAFaultThatStays));
        faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL).onPath("big.bin").always());
    } else {
        refuseCopyOffload();
        id = faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL)
                             .onPath("big.bin")
                             .skip(1)
                             .moving(1000)
                             .repeat(kFiringsOfAFaultThatStays));
    }
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), kFiringsOfAFaultThatStays);
    EXPECT_FALSE(fileExists(target / "big.bin"));
    EXPECT_EQ(readFile(source / "big.bin"), bigContent());
    expectOthersCopied();
    expectCompleteLog();
    std::string text = log();
    EXPECT_TRUE(contains(text, ": KAZ - Error writing " + (target / "big.bin").string() +
                                   ".\r\nCOPY " + pair("big.bin")))
        << text;
    EXPECT_TRUE(contains(text, ":-------- Exception List --------\r\n"
                               ": KAZ - ERROR_DISK_FULL(112)\r\n: " +
                                   pair("big.bin")))
        << text;
    EXPECT_TRUE(contains(text, ": Total files copied:           3\r\n")) << text;
}

INSTANTIATE_TEST_SUITE_P(OffloadAndPlain, FullDiskTest, testing::Bool());

TEST_F(FaultRunTest, FullDiskReportedOnlyAtCloseStillDeletesTheTarget) {
    int id = faults::arm(Fault(Call::CloseHandle, ERROR_DISK_FULL)
                             .onExactPath(target / "big.bin")
                             .repeat(kFiringsOfAFaultThatStays));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), kFiringsOfAFaultThatStays);
    EXPECT_FALSE(fileExists(target / "big.bin"));
    expectOthersCopied();
    expectCompleteLog();
    EXPECT_TRUE(
        contains(log(), ": KAZ - Error writing " + (target / "big.bin").string() + ".\r\n"));
}

// The target write fails and the log, on the same full disk, cannot take the
// report either: the run ends, and the half-written target must not stay
// behind looking like a copy.
TEST_F(FaultRunDeathTest, FullDiskThatAlsoStopsTheLogLeavesNoPartialTarget) {
    std::filesystem::create_directories(target);
    EXPECT_EXIT(
        {
            resetRunState();
            runState.transferBuffer1 = static_cast<char*>(heapAllocate(131072));
            runState.delayOpen = runState.delaySource = runState.delayTarget = -1;
            runState.logFileName.assign(logPath.c_str());
            openLog();
            // The report of the failed write is what overflows the buffer.
            writeLog(std::string(RunState::kLogBufferSize - 8, 'x').c_str());
            refuseCopyOffload();
            faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL).onPath("big.bin").skip(1));
            faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL).onExactPath(logPath + ".~~~"));
            copyFile((source / "big.bin").c_str(), (target / "big.bin").c_str());
        },
        testing::ExitedWithCode(1), "Error writing to log file ERROR_DISK_FULL");
    EXPECT_FALSE(fileExists(target / "big.bin"));
    EXPECT_TRUE(fileExists(logPath));
    EXPECT_EQ(readFile(source / "big.bin"), bigContent());
}

// ---- Refused access ----

TEST_F(FaultRunTest, SourceThatCannotBeOpenedIsAnExceptionNotABusyFile) {
    int id = faults::arm(
        Fault(Call::CreateFile, ERROR_ACCESS_DENIED).onExactPath(source / "a.txt").always());
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_GE(faults::firings(id), 1);
    EXPECT_FALSE(fileExists(target / "a.txt"));
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    expectCompleteLog();
    std::string text = log();
    EXPECT_TRUE(contains(text, ": KAZ - Error opening file  ERROR_ACCESS_DENIED(5)\r\n: " +
                                   pair("a.txt")))
        << text;
    // Not busy, but still to be copied: the recopy list names it for a replay.
    EXPECT_FALSE(contains(text, ":None - Source and Target synchronized.")) << text;
    EXPECT_TRUE(contains(text, ":-------- File Recopy List --------\r\n: Due to error 5 - "
                               "ERROR_ACCESS_DENIED\r\nCOPY " + pair("a.txt")))
        << text;
}

TEST_F(FaultRunTest, TargetThatCannotBeCreatedLeavesTheSourceAndTheRestAlone) {
    int id = faults::arm(
        Fault(Call::CreateFile, ERROR_ACCESS_DENIED).onExactPath(target / "a.txt").always());
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_GE(faults::firings(id), 1);
    EXPECT_FALSE(fileExists(target / "a.txt"));
    EXPECT_EQ(readFile(source / "a.txt"), "alpha\n");
    EXPECT_EQ(readFile(target / "z.txt"), "zulu\n");
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": KAZ - Unable to create target file  ERROR_ACCESS_DENIED(5)\r\n: " +
                                    pair("a.txt")))
        << log();
}

TEST_F(FaultRunTest, TargetFileThatCannotBeRemovedStaysAndIsReported) {
    mirrorFirst();
    writeFile(target / "stale.txt", "only in the target\n");
    int id = faults::arm(
        Fault(Call::DeleteFile, ERROR_ACCESS_DENIED).onExactPath(target / "stale.txt").always());
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_GE(faults::firings(id), 1);
    EXPECT_EQ(readFile(target / "stale.txt"), "only in the target\n");
    expectOthersCopied();
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": Error removing file " + (target / "stale.txt").string() +
                                    ", continuing...\r\n"));
}

TEST_F(FaultRunTest, FileInsideARemovedFolderThatCannotGoKeepsItsFolder) {
    mirrorFirst();
    std::filesystem::create_directories(target / "gone/deeper");
    writeFile(target / "gone/deeper/kept", "refuses to go\n");
    int id = faults::arm(
        Fault(Call::DeleteFile, ERROR_ACCESS_DENIED).onExactPath(target / "gone/deeper/kept"));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_EQ(readFile(target / "gone/deeper/kept"), "refuses to go\n");
    expectOthersCopied();
    expectCompleteLog();
    std::string text = log();
    std::string deeper = (target / "gone/deeper").string();
    EXPECT_TRUE(contains(text, ": KAZ - Error removing file " + deeper + "/kept \r\n")) << text;
    EXPECT_TRUE(contains(text, ": KAZ - Error parsing directory " + deeper + "\r\n")) << text;
    EXPECT_TRUE(contains(text, ": Error removing directory " + deeper + "\r\n")) << text;
}

TEST_F(FaultRunTest, FolderThatCannotBeRemovedIsEmptiedAndReported) {
    mirrorFirst();
    std::filesystem::create_directories(target / "gone");
    writeFile(target / "gone/file", "old\n");
    int id = faults::arm(
        Fault(Call::RemoveDirectory, ERROR_ACCESS_DENIED).onExactPath(target / "gone"));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_TRUE(std::filesystem::is_directory(target / "gone"));
    EXPECT_FALSE(fileExists(target / "gone/file"));
    expectOthersCopied();
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": KAZ - Error deleting directory " + (target / "gone").string() +
                                    "\r\n"));
}

// ---- Read errors ----

class ReadErrorTest : public FaultRunTest, public testing::WithParamInterface<bool> {};

TEST_P(ReadErrorTest, ErrorInTheMiddleDeletesThePartialTarget) {
    if (GetParam()) {
        // The offload meets the bad sector first; the plain read after it too.
        faults::arm(Fault(Call::CopyFileRange, ERROR_IO_DEVICE)
                        .onPath("big.bin")
                        .skip(1)
                        .repeat(kFiringsOfAFaultThatStays));
    } else {
        refuseCopyOffload();
    }
    int skipped = GetParam() ? 0 : 1;
    int id = faults::arm(Fault(Call::ReadFile, ERROR_IO_DEVICE)
                             .onPath("big.bin")
                             .skip(skipped)
                             .repeat(kFiringsOfAFaultThatStays));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), kFiringsOfAFaultThatStays);
    EXPECT_FALSE(fileExists(target / "big.bin"));
    expectOthersCopied();
    expectCompleteLog();
    std::string text = log();
    EXPECT_TRUE(contains(text, ": KAZ - Error reading file  ERROR_IO_DEVICE(1117)\r\n: " +
                                   pair("big.bin")))
        << text;
    EXPECT_FALSE(contains(text, "\r\n" + pair("big.bin"))) << text;
}

INSTANTIATE_TEST_SUITE_P(OffloadAndPlain, ReadErrorTest, testing::Bool());

// A read that returns less than asked before the end of the source must not
// pass for the end of the file: the copy counts as a source that changed
// while it was read, and the retry pass copies it whole.
TEST_F(FaultRunTest, ShortReadIsNeverTakenForACompleteCopy) {
    refuseCopyOffload();
    int id = faults::arm(Fault(Call::ReadFile, 0).onPath("big.bin").skip(1).moving(1000));
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_TRUE(readFile(target / "big.bin") == bigContent());
    expectOthersCopied();
    expectCompleteLog();
    std::string text = log();
    EXPECT_TRUE(contains(text, "\r\n" + pair("big.bin"))) << text;
    EXPECT_TRUE(contains(text, ":None - Source and Target synchronized.\r\n")) << text;
    EXPECT_TRUE(contains(text, ": Total files copied:           4\r\n")) << text;
}

TEST_F(FaultRunTest, SourceListingCutShortRemovesNothingFromTheTarget) {
    mirrorFirst();
    std::string pattern = (source / "*.*").string();
    int id = faults::arm(Fault(Call::FindNextFile, ERROR_IO_DEVICE).onExactPath(pattern).skip(1));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    expectOthersCopied();
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": KAZ - Error listing source folder  ERROR_IO_DEVICE(1117)\r\n"));
}

TEST_F(FaultRunTest, UnreadableSourceFolderKeepsItsTargetCopy) {
    mirrorFirst();
    int id = faults::arm(Fault(Call::FindFirstFile, ERROR_ACCESS_DENIED)
                             .onExactPath((source / "sub/*.*").string()));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    expectOthersCopied();
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": KAZ - Error listing source folder  ERROR_ACCESS_DENIED(5)\r\n"));
}

// ---- Names that vanish between the listing and the open ----

TEST_F(FaultRunTest, FileThatVanishesBeforeItsOpenIsReportedAndTheRunGoesOn) {
    std::filesystem::path vanishing = source / "a.txt";
    int id = faults::arm(Fault(Call::CreateFile, 0).onExactPath(vanishing).then([vanishing] {
        std::filesystem::remove(vanishing);
    }));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_FALSE(fileExists(source / "a.txt"));
    EXPECT_FALSE(fileExists(target / "a.txt"));
    EXPECT_EQ(readFile(target / "z.txt"), "zulu\n");
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": KAZ - Error opening file  ERROR_FILE_NOT_FOUND(2)\r\n: " +
                                    pair("a.txt")))
        << log();
}

// A folder that could not be listed is not known to be empty: its target
// copy stays until a run sees the folder gone from its parent's listing.
TEST_F(FaultRunTest, FolderThatVanishesBeforeItIsListedKeepsItsTargetCopy) {
    mirrorFirst();
    std::filesystem::path vanishing = source / "sub";
    int id = faults::arm(Fault(Call::FindFirstFile, 0)
                             .onExactPath((vanishing / "*.*").string())
                             .then([vanishing] { std::filesystem::remove_all(vanishing); }));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_FALSE(fileExists(source / "sub"));
    EXPECT_EQ(readFile(target / "sub/c.txt"), "charlie\n");
    EXPECT_TRUE(contains(log(), ": KAZ - Error listing source folder  ERROR_PATH_NOT_FOUND(3)"))
        << log();
    ASSERT_EQ(run(), 0);
    EXPECT_FALSE(fileExists(target / "sub/c.txt"));
    EXPECT_EQ(readFile(target / "a.txt"), "alpha\n");
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    expectCompleteLog();
}

TEST_F(FaultRunTest, MissingReportedAtOpenIsAnExceptionNotACopy) {
    int id = faults::arm(
        Fault(Call::CreateFile, ERROR_PATH_NOT_FOUND).onExactPath(source / "z.txt").always());
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_GE(faults::firings(id), 1);
    EXPECT_FALSE(fileExists(target / "z.txt"));
    EXPECT_EQ(readFile(source / "z.txt"), "zulu\n");
    expectCompleteLog();
    EXPECT_TRUE(contains(log(), ": KAZ - Error opening file  ERROR_PATH_NOT_FOUND(3)\r\n"));
}

// ---- The log ----

TEST_F(FaultRunTest, FailedFinalRenameLeavesTheWholeLogUnderItsTemporaryName) {
    int id = faults::arm(Fault(Call::MoveFile, ERROR_ACCESS_DENIED).onExactPath(logPath));
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_FALSE(fileExists(logPath));
    std::string text = readFile(logPath + ".~~~");
    EXPECT_TRUE(contains(text, pair("big.bin"))) << text;
    EXPECT_TRUE(contains(text, ":None - Source and Target synchronized.\r\n")) << text;
    expectOthersCopied();
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
}

// Enough files that the log is written out more than once during the run.
void addManyFiles(const std::filesystem::path& folder, int count) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        writeFile(folder / ("file-with-a-long-name-" + std::to_string(i)), std::to_string(i));
    }
}

TEST_F(FaultRunDeathTest, LogThatCannotBeWrittenEndsTheRunWithWhatItHad) {
    addManyFiles(source / "many", 600);
    EXPECT_EXIT(
        {
            faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL)
                            .onExactPath(logPath + ".~~~")
                            .skip(1)
                            .always());
            run();
        },
        testing::ExitedWithCode(1), "Error writing to log file ERROR_DISK_FULL");
    EXPECT_FALSE(fileExists(logPath + ".~~~"));
    std::string text = log();
    EXPECT_EQ(text.substr(0, 11), "goto COPY\r\n");
    EXPECT_GT(text.size(), 16000u);
    EXPECT_FALSE(contains(text, ":COPY\r\n"));
    // Every copy the log names is whole.
    for (int i = 0; i < 600; ++i) {
        std::string name = "many/file-with-a-long-name-" + std::to_string(i);
        if (contains(text, pair(name))) {
            EXPECT_EQ(readFile(target / name), std::to_string(i));
        }
    }
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
}

// ---- Replacing an old copy ----

// Files of the folder whose names a copy in progress uses.
std::vector<std::string> leftovers(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(".~kaz~", 0) == 0) names.push_back(name);
    }
    return names;
}

// A changed source whose copy fails part way: the last good copy stays
// whole, nothing half-written is left beside it, the log says that the two
// are not synchronized, and replaying the log finishes the job.
class FailedReplacementTest : public FaultRunTest, public testing::WithParamInterface<bool> {
protected:
    std::string changedContent() const { return std::string(kBigSize + 5000, 'N'); }
    void changeBig() {
        writeFile(source / "big.bin", changedContent());
        std::filesystem::last_write_time(source / "big.bin",
                                         std::filesystem::last_write_time(source / "big.bin") +
                                             std::chrono::seconds(10));
    }
};

TEST_P(FailedReplacementTest, OldCopyStaysAndTheReplayFinishes) {
    mirrorFirst();
    changeBig();
    refuseCopyOffload();
    bool diskFull = GetParam();
    int id = diskFull ? faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL)
                                        .onPath(".~kaz~")
                                        .skip(1)
                                        .moving(1000))
                      : faults::arm(Fault(Call::ReadFile, ERROR_IO_DEVICE)
                                        .onExactPath((source / "big.bin").string())
                                        .skip(1));
    ASSERT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    EXPECT_TRUE(leftovers(target).empty());
    std::string text = log();
    EXPECT_FALSE(contains(text, ":None - Source and Target synchronized.")) << text;
    EXPECT_TRUE(contains(text, "\r\nCOPY " + pair("big.bin"))) << text;

    faults::disarmAll();
    std::string replayLog = dir / "replay.log";
    ASSERT_EQ(runWith({"@" + logPath, replayLog, "-nowarn"}), 0);
    EXPECT_EQ(readFile(target / "big.bin"), changedContent());
    EXPECT_TRUE(contains(readFile(replayLog), ":None - Source and Target synchronized."));
}

INSTANTIATE_TEST_SUITE_P(DiskFullAndReadError, FailedReplacementTest, testing::Bool());

TEST_F(FaultRunTest, NewFilesAreWrittenInPlaceAndChangedOnesRenamedOverTheOld) {
    int moves = faults::arm(Fault(Call::MoveFile, 0).onPath(target.string()).always());
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(faults::firings(moves), 0);
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());

    writeFile(source / "a.txt", "ALPHA, longer\n");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(faults::firings(moves), 1);
    EXPECT_EQ(readFile(target / "a.txt"), "ALPHA, longer\n");
    EXPECT_TRUE(leftovers(target).empty());
}

TEST_F(FaultRunTest, WhatAKilledRunLeftHalfWrittenIsRemovedSilently) {
    mirrorFirst();
    writeFile(target / ".~kaz~0badf00d", "half a copy");
    writeFile(target / "sub/.~kaz~12345678", "another half");
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(leftovers(target).empty());
    EXPECT_TRUE(leftovers(target / "sub").empty());
    std::string text = log();
    EXPECT_FALSE(contains(text, ".~kaz~")) << text;
    EXPECT_TRUE(contains(text, ": Total files deleted:          0\r\n")) << text;
    // A source file of such a name is a user's file like any other.
    writeFile(source / ".~kaz~mine", "mine");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(readFile(target / ".~kaz~mine"), "mine");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(readFile(target / ".~kaz~mine"), "mine");
}

// A verify run copies the files it found busy; they were not verified.
TEST_F(FaultRunTest, BusySourceCopiedByAVerifyRunIsNotCountedAsVerified) {
    mirrorFirst();
    writeFile(target / "a.txt", "ALPHA\n");
    // Every open of the verify fails as busy (the quiet comparison's, then
    // verifyFile's three); the retry pass then gets it.
    int id = faults::arm(Fault(Call::CreateFile, ERROR_SHARING_VIOLATION)
                             .onExactPath((source / "a.txt").string())
                             .repeat(4));
    ASSERT_EQ(run({"-verify", "-busywaittime=5"}), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 4);
    EXPECT_EQ(readFile(target / "a.txt"), "alpha\n");
    std::string text = log();
    EXPECT_TRUE(contains(text, ": KAZ - Copied, not verified\r\n: " + pair("a.txt"))) << text;
    EXPECT_FALSE(contains(text, "\n" + pair("a.txt"))) << text;
    EXPECT_TRUE(contains(text, ": Total files copied, not verified:1\r\n")) << text;
    EXPECT_FALSE(contains(text, ":None - Source and Target synchronized.")) << text;
}

// ---- A source that goes away ----

// The walk holds the source root open: a root moved away mid-run is read on
// where it went, and nothing of the target is taken for deleted.
TEST_F(FaultRunTest, SourceRootMovedAwayMidRunDeletesNothing) {
    mirrorFirst();
    std::filesystem::path moved = std::filesystem::path(dir.path()) / "moved";
    std::filesystem::path from = source;
    faults::arm(Fault(Call::FindFirstFile, 0)
                    .onExactPath((source / "sub" / "*.*").string())
                    .then([from, moved] { std::filesystem::rename(from, moved); }));
    ASSERT_EQ(run(), 0);
    EXPECT_FALSE(fileExists(source));
    expectOthersCopied();
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    expectCompleteLog();
}

TEST_F(FaultRunDeathTest, SourceRootDeletedMidRunStopsTheRunAndKeepsTheTarget) {
    mirrorFirst();
    std::filesystem::path root = source;
    EXPECT_EXIT(
        {
            faults::arm(Fault(Call::FindFirstFile, 0)
                            .onExactPath((source / "sub" / "*.*").string())
                            .then([root] { std::filesystem::remove_all(root); }));
            run();
        },
        testing::ExitedWithCode(1), "MOXEL - Error in source path \\(");
    EXPECT_FALSE(fileExists(source));
    expectOthersCopied();
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    EXPECT_FALSE(fileExists(logPath + ".~~~"));
}

// ---- A refused allocation ----

TEST_F(FaultRunDeathTest, RefusedAllocationEndsTheRunWithTheLogUnderItsFinalName) {
    addManyFiles(source / "many", 600);
    // The entry table grows for the 600 entries, to 750 records: the first
    // block that large after the two transfer buffers.
    const size_t grownTable = 750 * sizeof(SourceEntry);
    EXPECT_EXIT(
        {
            setHeapRefusal(2, grownTable);
            run();
        },
        testing::ExitedWithCode(1),
        "Memory allocation for " + std::to_string(grownTable) + " bytes failed.");
    EXPECT_FALSE(fileExists(logPath + ".~~~"));
    std::string text = log();
    EXPECT_TRUE(contains(text, pair("big.bin"))) << text;
    EXPECT_FALSE(contains(text, ":COPY\r\n")) << text;
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
    EXPECT_EQ(readFile(target / "a.txt"), "alpha\n");
}

// When memory is gone altogether, closing the log must not need any.
TEST_F(FaultRunDeathTest, ExhaustedMemoryStillClosesTheLogUnderItsFinalName) {
    addManyFiles(source / "many", 10);
    EXPECT_EXIT(
        {
            faults::arm(Fault(Call::FindFirstFile, 0)
                            .onExactPath((source / "many/*.*").string())
                            .then([] { setHeapRefusal(0); }));
            run();
        },
        testing::ExitedWithCode(1), "Memory allocation for [0-9]+ bytes failed.");
    EXPECT_FALSE(fileExists(logPath + ".~~~"));
    std::string text = log();
    EXPECT_TRUE(contains(text, pair("big.bin"))) << text;
    EXPECT_EQ(readFile(target / "big.bin"), bigContent());
}

}  // namespace
