#include "transfer/file_copy.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "platform/cancel_signals.h"
#include "platform/fault_injection.h"
#include "platform/posix/error_map.h"
#include "platform/windows_api.h"
#include "transfer/transfer_test_fixture.h"

namespace {

namespace faults = platform::faults;
using faults::Call;
using faults::Fault;

// The faults that run something as a copy moves one of its blocks: by the
// kernel's copy offload or by a plain read, whichever the copy uses.
struct BlockHook {
    int offload = 0, read = 0;
};

int changes(const BlockHook& hook) {
    return faults::firings(hook.offload) + faults::firings(hook.read);
}

class CopyTest : public TransferTest {
protected:
    void copy() { copyFile(from.c_str(), to.c_str()); }
    // Runs `action` as the `block`th block (from 1) of `from` is moved. A
    // copy moves all its blocks one way, so only one of the two fires.
    BlockHook atBlock(int block, const std::function<void()>& action) {
        BlockHook hook;
        hook.offload = faults::arm(
            Fault(Call::CopyFileRange, 0).onExactPath(from).skip(block - 1).then(action));
        hook.read =
            faults::arm(Fault(Call::ReadFile, 0).onExactPath(from).skip(block - 1).then(action));
        return hook;
    }
    std::string pairLine() const { return from + " " + to + "\r\n"; }
    void expectCounted(uint32_t files, double bytes) {
        EXPECT_EQ(runState.filesProcessed, files);
        EXPECT_EQ(runState.virtualFilesProcessed, files);
        EXPECT_EQ(runState.totalFilesCopied, static_cast<int32_t>(files));
        EXPECT_EQ(runState.bytesCopied, bytes);
        EXPECT_EQ(runState.virtualBytesCopied, bytes);
    }
    std::string from = source("a.txt");
    std::string to = target("a.txt");
};

mode_t modeOf(const std::string& path) {
    struct stat status {};
    lstat(path.c_str(), &status);
    return status.st_mode;
}

// ---- Contents, times, permissions, links ----

class CopySizeTest : public CopyTest, public testing::WithParamInterface<size_t> {};

TEST_P(CopySizeTest, ContentArrivesWholeAndIsCountedOnce) {
    writeFile(from, blockPattern(GetParam()));
    copy();
    EXPECT_TRUE(readFile(to) == blockPattern(GetParam()));
    EXPECT_EQ(logText(), pairLine());
    expectCounted(1, static_cast<double>(GetParam()));
    EXPECT_EQ(runState.filesCreated, 1u);
    EXPECT_EQ(runState.totalFilesDeleted, 0);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, CopySizeTest,
                         testing::Values(0u, 1u, 131072u, 131073u, 262144u, 3u * 1048576u + 17u));

TEST_F(CopyTest, TimesAndReadOnlyPermissionsAreCarried) {
    writeFile(from, "contents");
    timespec times[2] = {{999990000, 0}, {1000000000, 123456700}};
    ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
    ASSERT_EQ(chmod(from.c_str(), 0444), 0);
    copy();
    struct stat status {};
    ASSERT_EQ(stat(to.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0444u);
    EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(status.st_mtim.tv_nsec, 123456700);
}

TEST_F(CopyTest, SymbolicLinkBecomesALinkWithTheSameText) {
    from = source("link"), to = target("link");
    ASSERT_EQ(symlink("../elsewhere/x", from.c_str()), 0);
    copy();
    char text[64] = {};
    ASSERT_TRUE(S_ISLNK(modeOf(to)));
    ASSERT_GT(readlink(to.c_str(), text, sizeof text - 1), 0);
    EXPECT_STREQ(text, "../elsewhere/x");
    EXPECT_EQ(logText(), pairLine());
}

// ---- What stands at the target ----

TEST_F(CopyTest, ReadOnlyTargetIsReplacedAndCountedAsDeleted) {
    writeFile(from, "new contents");
    writeFile(to, "old");
    ASSERT_EQ(chmod(to.c_str(), 0444), 0);
    copy();
    EXPECT_EQ(readFile(to), "new contents");
    EXPECT_EQ(modeOf(to) & 07777, modeOf(from) & 07777);
    EXPECT_EQ(runState.totalFilesDeleted, 1);
}

TEST_F(CopyTest, LinkAtTheTargetIsRemovedNeverWrittenThrough) {
    std::string outside = dir / "outside.txt";
    writeFile(from, "backup data");
    writeFile(outside, "must stay");
    ASSERT_EQ(symlink(outside.c_str(), to.c_str()), 0);
    runState.verbose = 1;
    copy();
    EXPECT_EQ(readFile(outside), "must stay");
    EXPECT_TRUE(S_ISREG(modeOf(to)));
    EXPECT_EQ(readFile(to), "backup data");
    // The link is replaced whole by the complete copy.
    EXPECT_EQ(logText(), pairLine());
}

TEST_F(CopyTest, TargetHeldByAnotherProgramIsASharingViolation) {
    writeFile(from, "new");
    writeFile(to, "old");
    ForeignLock holder(to, LOCK_SH);
    copy();
    EXPECT_EQ(readFile(to), "old");
    EXPECT_EQ(logText(), ": KAZ - Sharing violation on old file  ERROR_SHARING_VIOLATION(32)\r\n: " +
                             pairLine());
    EXPECT_EQ(runState.exceptionCount, 1);
    EXPECT_EQ(runState.busyList.count, 0);
}

TEST_F(CopyTest, MissingTargetFoldersAreMade) {
    to = target("new/deeper/a.txt");
    writeFile(from, "data");
    copy();
    EXPECT_EQ(readFile(to), "data");
    EXPECT_EQ(runState.foldersCreated, 2u);
}

TEST_F(CopyTest, TargetFolderThatCannotBeMadeIsReported) {
    writeFile(from, "data");
    writeFile(target("file"), "a file, not a folder");
    to = target("file/a.txt");
    copy();
    EXPECT_EQ(logText(), ": KAZ - Unable to create target folder  ERROR_PATH_NOT_FOUND(3)\r\n: " +
                             pairLine());
    EXPECT_EQ(runState.exceptionCount, 1);
    expectCounted(0, 0);
}

// ---- Sources that cannot be opened, or change ----

TEST_F(CopyTest, MissingSourceIsAnOpenErrorWithQuotedNames) {
    from = source("gone file"), to = target("gone file");
    copy();
    EXPECT_EQ(logText(), ": KAZ - Error opening file  ERROR_FILE_NOT_FOUND(2)\r\n: \"" + from +
                             "\" \"" + to + "\"\r\n");
    EXPECT_EQ(runState.exceptionCount, 1);
    EXPECT_EQ(runState.busySourceOpens, 1);
}

TEST_F(CopyTest, WithNoShareAnyLockMakesTheSourceBusy) {
    writeFile(from, "data");
    ForeignLock reader(from, LOCK_SH);
    runState.noShare = 1;
    copy();
    ASSERT_EQ(runState.busyList.count, 1);
    EXPECT_EQ(runState.busyList.entries[0].firstName, from);
    EXPECT_EQ(runState.busyList.entries[0].secondName, to);
    EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(runState.busySourceOpens, 1);
    EXPECT_EQ(logText(), "");
    EXPECT_FALSE(fileExists(to));
}

TEST_F(CopyTest, LockedSourceGoesOnTheBusyList) {
    writeFile(from, "data");
    ForeignLock writer(from, LOCK_EX);
    runState.debug = 1;
    copy();
    ASSERT_EQ(runState.busyList.count, 1);
    EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(runState.busySourceOpens, 1);
    EXPECT_EQ(runState.exceptionCount, 0);
    EXPECT_EQ(logText(), ": debug - line = 10, code = 32, ERROR_SHARING_VIOLATION\n"
                         ": debug - line = 11, code = 32, ERROR_SHARING_VIOLATION\n"
                         ": debug - line = 12, code = 32, ERROR_SHARING_VIOLATION\n");
    EXPECT_FALSE(fileExists(to));
}

TEST_F(CopyTest, SourceOpenedSharedForWritingIsComparedAndCountedOnce) {
    writeFile(from, blockPattern(300000));
    ForeignLock writer(from, LOCK_EX);
    // Free between the first and the second open attempt.
    faults::Scope disarm;
    int released = faults::arm(
        Fault(Call::CreateFile, 0).onExactPath(from).skip(1).then([&] { writer.release(); }));
    runState.debug = 1;
    copy();
    EXPECT_EQ(faults::firings(released), 1);
    EXPECT_TRUE(readFile(to) == blockPattern(300000));
    EXPECT_EQ(logText(), ": debug - line = 10, code = 32, ERROR_SHARING_VIOLATION\n" + pairLine());
    expectCounted(1, 300000);
}

TEST_F(CopyTest, SourceChangedDuringTheCopyIsLeftForTheRetryPass) {
    writeFile(from, blockPattern(4 * 131072));
    // Another program writes more after the first block went over.
    faults::Scope disarm;
    BlockHook changed = atBlock(2, [&] { writeFile(from, blockPattern(4 * 131072) + "more"); });
    copy();
    EXPECT_EQ(changes(changed), 1);
    EXPECT_FALSE(fileExists(to));
    ASSERT_EQ(runState.busyList.count, 1);
    EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(logText(), "");
    expectCounted(0, 0);
}

// ---- Cancel ----

TEST_F(CopyTest, CancelBeforeTheFirstBlockLeavesNoTarget) {
    ForkingDeathTests forking;
    writeFile(from, "data");
    runState.cancelRequested = platform::kCancelConfirmed;
    EXPECT_EXIT(copy(), testing::ExitedWithCode(1),
                "^KAZ - message\nProgram terminated due to Cancel\n$");
    EXPECT_FALSE(fileExists(to));
}

TEST_F(CopyTest, CancelDuringTheCopyDeletesThePartialTarget) {
    ForkingDeathTests forking;
    std::string reached = dir / "reached";
    writeFile(from, blockPattern(20 * 131072));
    faults::Scope disarm;
    EXPECT_EXIT(
        {
            // The user cancels while the third block goes over.
            atBlock(3, [&] {
                if (fileExists(to)) writeFile(reached, "copy under way");
                runState.cancelRequested = platform::kCancelConfirmed;
            });
            copy();
        },
        testing::ExitedWithCode(1), "Program terminated due to Cancel");
    EXPECT_EQ(readFile(reached), "copy under way");
    EXPECT_FALSE(fileExists(to));
    EXPECT_EQ(readFile(logPath), "");
}

// ---- Failures once writing began ----

namespace faults = platform::faults;

enum class LateFailure { Reading, Writing, Closing, Replacing };

// The failure, and whether an old copy stood at the target.
class LateFailureTest : public CopyTest,
                        public testing::WithParamInterface<std::tuple<LateFailure, bool>> {
protected:
    void TearDown() override {
        faults::disarmAll();
        CopyTest::TearDown();
    }
    std::set<std::string> targetEntries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(targetDir)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

TEST_P(LateFailureTest, CountersGoBackAndOnlyTheOldCopyIsLeft) {
    const auto [failure, oldCopy] = GetParam();
    writeFile(from, blockPattern(3 * 131072 + 5));
    if (oldCopy) writeFile(to, "old");
    // Beside an old copy the new one is written under a name of its own.
    const std::string written = oldCopy ? ".~kaz~" : to;
    using faults::Call;
    using faults::Fault;
    // Plain reads and writes, so that a block is counted before the failure.
    faults::arm(Fault(Call::CopyFileRange, ERROR_NOT_SUPPORTED).always());
    std::string report;
    switch (failure) {
        case LateFailure::Reading:
            faults::arm(Fault(Call::ReadFile, ERROR_IO_DEVICE).onPath(from).skip(1));
            report = ": KAZ - Error reading file  ERROR_IO_DEVICE(1117)\r\n: " + pairLine();
            break;
        case LateFailure::Writing:
            faults::arm(Fault(Call::WriteFile, ERROR_DISK_FULL).onPath(written).skip(1));
            report = ": KAZ - Error writing " + to + ".\r\n";
            break;
        case LateFailure::Closing:
            faults::arm(Fault(Call::CloseHandle, ERROR_DISK_FULL).onPath(written));
            report = ": KAZ - Error writing " + to + ".\r\n";
            break;
        case LateFailure::Replacing:
            faults::arm(Fault(Call::MoveFile, ERROR_GEN_FAILURE).onPath(".~kaz~"));
            report = ": KAZ - Unable to replace old file  ERROR_GEN_FAILURE(31)\r\n: " + pairLine();
            break;
    }
    copy();
    expectCounted(0, 0);
    EXPECT_EQ(runState.totalFilesDeleted, 0);
    EXPECT_EQ(runState.exceptionCount, 1);
    ASSERT_EQ(runState.recopyList.count, 1);
    EXPECT_EQ(runState.recopyList.entries[0].firstName, from);
    EXPECT_EQ(runState.busyList.count, 0);
    EXPECT_EQ(logText().rfind(report, 0), 0u) << logText();
    if (oldCopy) {
        EXPECT_EQ(targetEntries(), std::set<std::string>{"a.txt"});
        EXPECT_EQ(readFile(to), "old");
    } else {
        EXPECT_TRUE(targetEntries().empty());
    }
}

std::string lateFailureName(const testing::TestParamInfo<std::tuple<LateFailure, bool>>& param) {
    static const char* const kSteps[] = {"Reading", "Writing", "Closing", "Replacing"};
    return std::string(kSteps[static_cast<int>(std::get<0>(param.param))]) +
           (std::get<1>(param.param) ? "OverAnOldCopy" : "");
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, LateFailureTest,
    testing::Values(std::make_tuple(LateFailure::Reading, false),
                    std::make_tuple(LateFailure::Reading, true),
                    std::make_tuple(LateFailure::Writing, false),
                    std::make_tuple(LateFailure::Writing, true),
                    std::make_tuple(LateFailure::Closing, false),
                    std::make_tuple(LateFailure::Closing, true),
                    std::make_tuple(LateFailure::Replacing, true)),
    lateFailureName);

// The source is looked at when it is opened and again after the copy; a
// change in between, seen only in its size or only in its time, leaves no
// copy behind, by the offload or by plain reads. The copy asks for no more
// than the size it saw at the open, so a source that grew is never taken for
// complete at its old size.
enum class SourceChange { Grows, RewrittenAtTheSameSize };

class ChangedSourceTest
    : public CopyTest,
      public testing::WithParamInterface<std::tuple<bool, SourceChange>> {
protected:
    void TearDown() override {
        faults::disarmAll();
        CopyTest::TearDown();
    }
};

TEST_P(ChangedSourceTest, SourceChangedAfterItsOpenIsLeftForTheRetryPass) {
    const auto [offload, change] = GetParam();
    const std::string content = blockPattern(131072 + 100);
    writeFile(from, content);
    timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
    auto changeSource = [&] {
        if (change == SourceChange::Grows) {
            writeFile(from, content + "grown after the open");
        } else {
            writeFile(from, std::string(content.size(), 'x'));
            timespec later[2] = {{1000000000, 0}, {1000000001, 0}};
            utimensat(AT_FDCWD, from.c_str(), later, 0);
        }
    };
    using faults::Call;
    using faults::Fault;
    if (offload) {
        faults::arm(Fault(Call::CopyFileRange, 0).then(changeSource));
    } else {
        faults::arm(Fault(Call::CopyFileRange, ERROR_NOT_SUPPORTED).always());
        faults::arm(Fault(Call::ReadFile, 0).onPath(from).then(changeSource));
    }
    copy();
    EXPECT_FALSE(fileExists(to));
    ASSERT_EQ(runState.busyList.count, 1);
    EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(logText(), "");
    expectCounted(0, 0);
}

std::string changedSourceName(
    const testing::TestParamInfo<std::tuple<bool, SourceChange>>& param) {
    return std::string(std::get<0>(param.param) ? "Offload" : "Plain") +
           (std::get<1>(param.param) == SourceChange::Grows ? "Grows" : "RewrittenAtTheSameSize");
}

INSTANTIATE_TEST_SUITE_P(OffloadAndPlain, ChangedSourceTest,
                         testing::Combine(testing::Bool(),
                                          testing::Values(SourceChange::Grows,
                                                          SourceChange::RewrittenAtTheSameSize)),
                         changedSourceName);

// ---- Trial run and storage estimates ----

TEST_F(CopyTest, TrialRunCountsAndLogsButCopiesNothing) {
    to = target("sub/a.txt");
    writeFile(from, blockPattern(500));
    runState.trialRun = 1;
    copy();
    EXPECT_FALSE(fileExists(target("sub")));
    EXPECT_EQ(logText(), pairLine());
    expectCounted(1, 500);
    EXPECT_EQ(runState.filesCreated, 0u);
}

TEST_F(CopyTest, TrialRunOfAVanishedSource) {
    runState.trialRun = 1;
    copy();
    EXPECT_EQ(logText(), "Source file " + from + " dissappeared, nothing to copy\r\n");
    ASSERT_EQ(runState.exceptionList.count, 1);
    EXPECT_EQ(runState.exceptionList.entries[0].messageIndex, kSourceNotFound);
    expectCounted(0, 0);
}

TEST_F(CopyTest, TrialRunTakesTheSizeOfFilesBeyondFourGigabytes) {
    writeFile(from, "");
    ASSERT_EQ(truncate(from.c_str(), (5ll << 30) + 100), 0);
    runState.trialRun = 1;
    copy();
    EXPECT_EQ(runState.bytesCopied, 5.0 * 1073741824.0 + 100.0);
    EXPECT_EQ(runState.estimatedClusters, 163840 + 1);  // 5 GiB / 32768, and the rest
    EXPECT_EQ(runState.blocks1024, 33 * 163840 + 1);
    EXPECT_EQ(runState.blocks512, 65 * 163840 + 1);
}

struct Estimate {
    size_t size;
    int32_t clusters, blocks1024, blocks512;
};

class EstimateTest : public CopyTest, public testing::WithParamInterface<Estimate> {};

TEST_P(EstimateTest, CopyAddsTheEstimates) {
    writeFile(from, blockPattern(GetParam().size));
    copy();
    EXPECT_EQ(runState.estimatedClusters, GetParam().clusters);
    EXPECT_EQ(runState.blocks1024, GetParam().blocks1024);
    EXPECT_EQ(runState.blocks512, GetParam().blocks512);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EstimateTest,
                         testing::Values(Estimate{0, 0, 0, 0}, Estimate{1, 1, 1, 1},
                                         Estimate{500, 1, 1, 2}, Estimate{32768, 1, 33, 65},
                                         Estimate{32769, 2, 34, 66},
                                         Estimate{32768 + 960, 2, 34, 67},
                                         Estimate{32768 + 961, 2, 35, 68}));

// ---- The error report and the busy codes ----

TEST_F(CopyTest, ErrorReportShapes) {
    reportError("Plain", 0, 0, "s", "t");
    reportError("Both", ERROR_DISK_FULL, kVerifyError, "s 1", "t");
    EXPECT_EQ(logText(), ": KAZ - Plain  : s t\r\n"
                         ": KAZ - Both  ERROR_DISK_FULL(112)\r\nVerify Error\r\n: \"s 1\" t\r\n");
    ASSERT_EQ(runState.exceptionCount, 2);
    EXPECT_EQ(runState.exceptionList.entries[1].code, ERROR_DISK_FULL);
    EXPECT_EQ(runState.exceptionList.entries[1].messageIndex, kVerifyError);
}

TEST(BusyErrors, ExactlyTheSixteenCodes) {
    int found = 0;
    for (DWORD code = 0; code < 20000; ++code) found += isBusyError(code) ? 1 : 0;
    EXPECT_EQ(found, 16);
    for (DWORD code : {4u, 8u, 14u, 32u, 33u, 36u, 54u, 70u, 84u, 110u, 122u, 142u, 148u, 170u,
                       212u, 1011u})
        EXPECT_TRUE(isBusyError(code)) << code;
}

// A file another program holds, or a resource that is short for now, waits
// for the retry pass; a lasting failure is reported at once instead. Here the
// POSIX backend's codes meet the copy's idea of busy.
TEST(BusyErrors, ErrorsThatPassAreBusyAndLastingOnesAreNot) {
    using posix::windowsError;
    for (int err : {EAGAIN, EWOULDBLOCK, ETXTBSY, EBUSY, EDEADLK, ENOLCK, EMFILE, ENFILE, ENOMEM})
        EXPECT_TRUE(isBusyError(windowsError(err))) << std::strerror(err);
    for (int err : {ENOENT, ENOTDIR, EACCES, EPERM, EISDIR, EROFS, ENOSPC, EDQUOT, EFBIG, EIO,
                    EINVAL, ENAMETOOLONG, ELOOP, EEXIST, ENOTEMPTY, EXDEV, EBADF, ENOSYS, EDOM,
                    EPIPE, ERANGE, 9999})
        EXPECT_FALSE(isBusyError(windowsError(err))) << std::strerror(err);
}

}  // namespace
