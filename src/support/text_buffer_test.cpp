#include "support/text_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/heap.h"
#include "run_as_worker.h"

TEST(TextBuffer, AppendToClearedBufferAllocatesExactly) {
    TextBuffer t;
    EXPECT_EQ(t.data, nullptr);
    t.append("abc");
    EXPECT_STREQ(t.data, "abc");
    EXPECT_EQ(t.capacity, 4u);
}

TEST(TextBuffer, GrowsOnlyWhenTheTextDoesNotFitAndKeepsItsSlack) {
    TextBuffer t("abc", 10);
    EXPECT_EQ(t.capacity, 14u);
    char* block = t.data;
    t.append("/*.*");
    EXPECT_EQ(t.data, block);
    EXPECT_EQ(t.capacity, 14u);
    t.append("eleven char");
    EXPECT_EQ(t.capacity, 29u);
    EXPECT_EQ(t.slack, 10);
    EXPECT_STREQ(t.data, "abc/*.*eleven char");
}

TEST(TextBuffer, WithoutSlackEveryOverflowGrowsToTheExactSize) {
    TextBuffer t("ab");
    t.append("cd");
    EXPECT_EQ(t.capacity, 5u);
    t.append("e");
    EXPECT_EQ(t.capacity, 6u);
    EXPECT_STREQ(t.data, "abcde");
}

TEST(TextBuffer, AssignReusesTheBlock) {
    TextBuffer t("sixsix");
    char* block = t.data;
    t.assign("xy");
    EXPECT_EQ(t.data, block);
    EXPECT_EQ(t.capacity, 7u);
    EXPECT_STREQ(t.data, "xy");
}

TEST(TextBuffer, NullTextsNeverAllocate) {
    TextBuffer cleared;
    cleared.append(nullptr);
    cleared.assign(nullptr);
    EXPECT_EQ(cleared.data, nullptr);

    TextBuffer t("abc");
    char* block = t.data;
    t.append(nullptr);
    EXPECT_EQ(t.data, block);
    t.assign(nullptr);
    EXPECT_EQ(t.data, block);
    EXPECT_STREQ(t.data, "");

    TextBuffer roomOnly(nullptr, 10);
    EXPECT_EQ(roomOnly.capacity, 11u);
    EXPECT_EQ(roomOnly.slack, 10);
    EXPECT_STREQ(roomOnly.data, "");
}

TEST(TextBuffer, AppendingItsOwnTextSurvivesTheMove) {
    TextBuffer t("abcd");
    t.append(t.data);
    EXPECT_STREQ(t.data, "abcdabcd");
}

TEST(TextBuffer, MovingHandsTheBlockOver) {
    TextBuffer giver("log.txt", 3);
    char* block = giver.data;
    TextBuffer receiver;
    receiver = std::move(giver);
    EXPECT_EQ(receiver.data, block);
    EXPECT_EQ(receiver.slack, 3);
    EXPECT_EQ(giver.data, nullptr);
}

TEST(TextBufferDeathTest, RefusedBlockIsTheOutOfMemoryStop) {
    EXPECT_STOP(
        {
            TextBuffer t("abc", 100);
            setHeapRefusal(0, 100);
            t.append(std::string(200, 'x').c_str());
        },
        testing::ExitedWithCode(1), "Memory allocation for 304 bytes failed.");
}

TEST(TextBufferDeathTest, OverrunByAnInPlaceWriterIsAnAssertionStop) {
    EXPECT_STOP(
        {
            TextBuffer t("abc");
            std::memset(t.data, 'x', t.capacity);  // no terminator left
            t.append("d");
        },
        testing::ExitedWithCode(1), "MOXEL\nFailure at line 284 in kazmain.cpp");
}
