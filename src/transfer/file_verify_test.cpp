#include "transfer/file_verify.h"

#include "platform/windows_api.h"
#include "transfer/transfer_test_fixture.h"

namespace {

class VerifyTest : public TransferTest {
protected:
    int verifyPair(const std::string& sourceContent, const std::string& targetContent) {
        writeFile(from, sourceContent);
        writeFile(to, targetContent);
        return verifyFile(from.c_str(), to.c_str());
    }
    void expectOnlyException(int32_t messageIndex) {
        ASSERT_EQ(runState.exceptionCount, 1);
        EXPECT_EQ(runState.exceptionList.entries[0].code, 0u);
        EXPECT_EQ(runState.exceptionList.entries[0].messageIndex, messageIndex);
        EXPECT_EQ(runState.totalFilesCopied, 0);
        EXPECT_EQ(runState.filesProcessed, 0u);
    }
    std::string from = source("file.dat");
    std::string to = target("file.dat");
};

class VerifyEqualTest : public VerifyTest, public testing::WithParamInterface<size_t> {};

TEST_P(VerifyEqualTest, EqualPairIsListedAndCounted) {
    EXPECT_EQ(verifyPair(blockPattern(GetParam()), blockPattern(GetParam())), 1);
    EXPECT_EQ(logText(), from + " " + to + "\r\n");
    EXPECT_EQ(runState.filesProcessed, 1u);
    EXPECT_EQ(runState.totalFilesCopied, 1);
    EXPECT_EQ(runState.bytesCopied, static_cast<double>(GetParam()));
    EXPECT_EQ(runState.exceptionCount, 0);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, VerifyEqualTest,
                         testing::Values(0u, 1u, 131072u, 262144u + 5u));

TEST_F(VerifyTest, TargetOneByteLongerIsADifferentLength) {
    EXPECT_EQ(verifyPair("abc", "abcd"), 0);
    EXPECT_EQ(logText(),
              ": Source and Target file of different length\r\n: Source: " + from + "\r\n");
    expectOnlyException(kDifferentLength);
}

TEST_F(VerifyTest, LastByteDifferingIsReported) {
    std::string changed = blockPattern(131072 + 10);
    changed.back() = 'x';
    EXPECT_EQ(verifyPair(blockPattern(131072 + 10), changed), 0);
    EXPECT_EQ(logText(),
              ": KAZ - Error source and target not the same  : " + from + " " + to + "\r\n");
    expectOnlyException(kNoError);
}

TEST_F(VerifyTest, MissingSourceIsNotedAsDisappeared) {
    from = source("gone file");
    writeFile(to, "x");
    EXPECT_EQ(verifyFile(from.c_str(), to.c_str()), 1);
    EXPECT_EQ(logText(), ": Source file \"" + from + "\" dissappeared, nothing to verify\r\n");
    expectOnlyException(kSourceNotFound);
}

TEST_F(VerifyTest, MissingTargetIsNotedAsDisappeared) {
    writeFile(from, "x");
    EXPECT_EQ(verifyFile(from.c_str(), to.c_str()), 1);
    EXPECT_EQ(logText(), ": Target file " + to + " dissappeared, nothing to verify\r\n");
    expectOnlyException(kTargetNotFound);
}

TEST_F(VerifyTest, BusyTargetGoesOnTheBusyList) {
    writeFile(from, "same");
    writeFile(to, "same");
    ForeignLock writer(to, LOCK_EX);
    EXPECT_EQ(verifyFile(from.c_str(), to.c_str()), 1);
    ASSERT_EQ(runState.busyList.count, 1);
    EXPECT_EQ(runState.busyList.entries[0].firstName, from);
    EXPECT_EQ(runState.busyList.entries[0].secondName, to);
    EXPECT_EQ(runState.busyList.entries[0].code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(runState.busySourceOpens, 1);
    EXPECT_EQ(runState.exceptionCount, 0);
    EXPECT_EQ(runState.totalFilesCopied, 0);
    EXPECT_EQ(logText(), "");
}

TEST_F(VerifyTest, ReadingLeavesTheLastWriteTime) {
    timespec times[2] = {{5000, 0}, {7000, 300}};
    writeFile(from, "same");
    ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
    writeFile(to, "same");
    verifyFile(from.c_str(), to.c_str());
    struct stat status {};
    ASSERT_EQ(stat(from.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 7000);
    EXPECT_EQ(status.st_mtim.tv_nsec, 300);
}

TEST_F(VerifyTest, TrialRunCountsEqualSizesWithoutReading) {
    runState.trialRun = 1;
    EXPECT_EQ(verifyPair("abcd", "wxyz"), 1);
    EXPECT_EQ(logText(), from + " " + to + "\r\n");
    EXPECT_EQ(runState.bytesCopied, 4.0);
}

}  // namespace
