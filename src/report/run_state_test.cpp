#include "report/run_state.h"

#include <gtest/gtest.h>

#include "platform/windows_api.h"
#include "support/heap.h"
#include "test_support.h"

class RunStateTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override {
        setHeapRefusal(-1);
        resetRunState();
    }
};

TEST_F(RunStateTest, ListsGrowByAHundredAndKeepTheirOrder) {
    EntryList list;
    ASSERT_EQ(addEntry(list, "s0", "t0", 0, 0), 1);
    EXPECT_EQ(list.capacity, 100);
    for (int i = 1; i <= 100; ++i) {
        std::string n = std::to_string(i);
        ASSERT_EQ(addEntry(list, ("s" + n).c_str(), ("t" + n).c_str(), DWORD(i), i % 5), 1);
    }
    EXPECT_EQ(list.capacity, 200);
    EXPECT_EQ(list.count, 101);
    for (int i = 0; i <= 100; ++i) {
        EXPECT_EQ(list.entries[i].firstName, "s" + std::to_string(i));
        EXPECT_EQ(list.entries[i].secondName, "t" + std::to_string(i));
        EXPECT_EQ(list.entries[i].code, DWORD(i));
    }
    for (int i = 101; i < 200; ++i) addEntry(list, "s", "t", 0, 0);
    EXPECT_EQ(list.capacity, 200);
    addEntry(list, "s", "t", 0, 0);
    EXPECT_EQ(list.capacity, 300);
    for (int i = 201; i < 300; ++i) addEntry(list, "s", "t", 0, 0);
    addEntry(list, "s", "t", 0, 0);
    EXPECT_EQ(list.capacity, 450);
    destroyList(list);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity, 0);
}

TEST_F(RunStateTest, EntriesHoldCopiesOfTheirNames) {
    std::string source = "a/b";
    addException(source.c_str(), "c/d", 5, 0);
    source[0] = 'z';
    EXPECT_STREQ(runState.exceptionList.entries[0].firstName, "a/b");
}

TEST_F(RunStateTest, CountersRiseEvenWhenMemoryRunsOut) {
    setHeapRefusal(0);
    EXPECT_EQ(addException("s", "t", ERROR_ACCESS_DENIED, 0), 0);
    EXPECT_EQ(addBusyFile("s", "t", ERROR_SHARING_VIOLATION), 0);
    EXPECT_EQ(runState.exceptionCount, 1);
    EXPECT_EQ(runState.busySourceOpens, 1);
    EXPECT_EQ(runState.exceptionList.count, 0);
    EXPECT_EQ(runState.busyList.count, 0);
}

TEST_F(RunStateTest, RefusedSecondNameLeavesNoHalfEntry) {
    addEntry(runState.busyList, "first", "second", 0, 0);  // room for 100 exists now
    setHeapRefusal(1);  // the copy of the first name is granted, the second refused
    EXPECT_EQ(addEntry(runState.busyList, "x", "y", 0, 0), 0);
    EXPECT_EQ(runState.busyList.count, 1);
    setHeapRefusal(-1);
    EXPECT_EQ(addEntry(runState.busyList, "x", "y", 0, 0), 1);
    EXPECT_STREQ(runState.busyList.entries[1].firstName, "x");
}

TEST_F(RunStateTest, AddBytesTakesTheHighWord) {
    double total = 0;
    addBytes(total, 1, 0);
    EXPECT_EQ(total, 4294967296.0);
    addBytes(total, 0, 0xFFFFFFFFu);
    EXPECT_EQ(total, 8589934591.0);
}

TEST_F(RunStateTest, ClearSettingsEmptiesTheSwitchesAndArguments) {
    runState.sourceArg.assign("src");
    runState.verify = 1;
    runState.delayOpen = 7;
    runState.clearSettings();
    EXPECT_EQ(runState.sourceArg.data, nullptr);
    EXPECT_EQ(runState.verify, 0);
    EXPECT_EQ(runState.delayOpen, 0);
    EXPECT_EQ(runState.excludeText.slack, 100);
}
