#include "transfer/file_verify.h"

#include <functional>
#include <vector>

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

// pairMatches decides alone, on another thread, and says nothing: whatever
// it does not find equal is left to verifyFile.
class QuietCompareTest : public VerifyTest {
protected:
    bool matches(const std::string& sourceContent, const std::string& targetContent,
                 const std::function<bool()>& stop = [] { return false; }) {
        writeFile(from, sourceContent);
        writeFile(to, targetContent);
        return matchesAsTheyAre(stop);
    }
    bool matchesAsTheyAre(const std::function<bool()>& stop = [] { return false; },
                          PairPart part = {}) {
        size = 12345;
        return pairMatches({from.c_str(), to.c_str(), listedAs, listedAs},
                           {sourceBlock.data(), targetBlock.data()}, stop, part, size);
    }
    void expectNothingSaid() {
        EXPECT_EQ(logText(), "");
        EXPECT_EQ(runState.exceptionCount, 0);
        EXPECT_EQ(runState.busyList.count, 0);
        EXPECT_EQ(runState.totalFilesCopied, 0);
        EXPECT_EQ(runState.bytesCopied, 0.0);
    }
    // pairMatches fills blocks of the transfer buffers' size.
    std::vector<char> sourceBlock = std::vector<char>(RunState::kTransferBufferSize);
    std::vector<char> targetBlock = std::vector<char>(RunState::kTransferBufferSize);
    uint64_t size = 0;
    DWORD listedAs = FILE_ATTRIBUTE_ARCHIVE;  // as a listing shows a plain file
};

TEST_F(QuietCompareTest, EqualPairsMatchWithTheirSizeAtEveryBlockBoundary) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{131072}, size_t{262144 + 5}}) {
        EXPECT_TRUE(matches(blockPattern(length), blockPattern(length))) << length;
        EXPECT_EQ(size, length);
    }
    expectNothingSaid();
}

TEST_F(QuietCompareTest, EveryDifferenceOrFailureIsLeftToVerifyFile) {
    std::string changed = blockPattern(131072 + 10);
    changed.back() = 'x';
    EXPECT_FALSE(matches(blockPattern(131072 + 10), changed));
    EXPECT_FALSE(matches("abc", "abcd"));
    writeFile(to, "same");
    {
        ForeignLock writer(to, LOCK_EX);
        writeFile(from, "same");
        EXPECT_FALSE(matchesAsTheyAre());
    }
    ASSERT_EQ(unlink(to.c_str()), 0);
    EXPECT_FALSE(matchesAsTheyAre());
    ASSERT_EQ(symlink(from.c_str(), to.c_str()), 0);
    EXPECT_FALSE(matchesAsTheyAre()) << "a link is compared as itself";
    ASSERT_EQ(unlink(from.c_str()), 0);
    EXPECT_FALSE(matchesAsTheyAre());
    expectNothingSaid();
}

TEST_F(QuietCompareTest, StopEndsTheComparisonBeforeTheNextBlock) {
    int asked = 0;
    EXPECT_FALSE(matches(blockPattern(3 * 131072), blockPattern(3 * 131072),
                         [&] { return ++asked == 2; }));
    EXPECT_EQ(asked, 2);
    expectNothingSaid();
}

// A part compares its own bytes only, as far as the files reach, and tells
// the size of the whole.
TEST_F(QuietCompareTest, APartComparesOnlyItsOwnBytes) {
    const std::string original = blockPattern(3 * 131072 + 100);
    std::string changed = original;
    changed[131072 + 7] = 'x';  // in the second block
    writeFile(from, original);
    writeFile(to, changed);
    EXPECT_TRUE(matchesAsTheyAre([] { return false; }, {0, 131072}));
    EXPECT_EQ(size, original.size());
    EXPECT_FALSE(matchesAsTheyAre([] { return false; }, {131072, 131072}));
    EXPECT_TRUE(matchesAsTheyAre([] { return false; }, {2 * 131072, UINT64_MAX}));
    EXPECT_TRUE(matchesAsTheyAre([] { return false; }, {10 * 131072, 131072}))
        << "a part beyond the end compares nothing";
    EXPECT_EQ(size, original.size());
    expectNothingSaid();
}

TEST_F(QuietCompareTest, CountingAMatchListsThePairAsVerifyFileDoes) {
    EXPECT_TRUE(matches(blockPattern(5000), blockPattern(5000)));
    countMatchedPair(from.c_str(), to.c_str(), size);
    EXPECT_EQ(logText(), from + " " + to + "\r\n");
    EXPECT_EQ(runState.filesProcessed, 1u);
    EXPECT_EQ(runState.totalFilesCopied, 1);
    EXPECT_EQ(runState.bytesCopied, 5000.0);
    EXPECT_EQ(runState.virtualBytesCopied, 5000.0);
}

}  // namespace
