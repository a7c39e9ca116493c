#include "engine/search_pattern.h"

#include <gtest/gtest.h>

#include "platform/windows_api.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "run_as_worker.h"
#include "test_support.h"

class EntryTableTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override {
        setHeapRefusal(-1);
        resetRunState();
    }
};
using EntryTableDeathTest = EntryTableTest;

TEST(FindRecord, HasTheWindowsLayout) { EXPECT_EQ(sizeof(WIN32_FIND_DATAA), 320u); }

TEST_F(EntryTableTest, GrowsOneStepAtTheEndAndKeepsItsEntries) {
    createEntryTable();
    EXPECT_EQ(runState.entryCapacity, 500);
    for (int i = 0; i < 500; ++i) {
        ensureEntry(i);
        runState.entryTable[i].nFileSizeLow = DWORD(i);
    }
    EXPECT_EQ(runState.entryCapacity, 500);
    ensureEntry(500);
    EXPECT_EQ(runState.entryCapacity, 750);
    EXPECT_EQ(runState.entryTable[499].nFileSizeLow, 499u);
    EXPECT_EQ(runState.entryTable[0].nFileSizeLow, 0u);
    // Large tables grow by half their size.
    ensureEntry(750);
    EXPECT_EQ(runState.entryCapacity, 1125);
}

TEST_F(EntryTableDeathTest, IndexBeyondTheTableIsAnAssertionStop) {
    createEntryTable();
    EXPECT_STOP(ensureEntry(501), testing::ExitedWithCode(1), "Failure at line 2800 in kazmain");
}

TEST_F(EntryTableDeathTest, RefusedTableIsTheOutOfMemoryStop) {
    setHeapRefusal(0, 160000);
    EXPECT_STOP(createEntryTable(), testing::ExitedWithCode(1),
                "Memory allocation for 160000 bytes failed.");
}
