#include "engine/search_pattern.h"

#include <cstddef>
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

// Windows' fields as Windows lays them out; the POSIX build's record goes on
// after them with what detailsOf and statusChangeTimeOf hand out.
TEST(FindRecord, HasTheWindowsLayout) {
    EXPECT_EQ(offsetof(WIN32_FIND_DATAA, cAlternateFileName) +
                  sizeof(WIN32_FIND_DATAA::cAlternateFileName),
              318u);
    EXPECT_GE(sizeof(WIN32_FIND_DATAA), 320u);
}

TEST_F(EntryTableTest, GrowsOneStepAtTheEndAndKeepsItsEntries) {
    createEntryTable();
    EXPECT_EQ(runState.entryCapacity, 500);
    for (int i = 0; i < 500; ++i) {
        ensureEntry(i);
        runState.entryTable[i].sizeLow = DWORD(i);
    }
    EXPECT_EQ(runState.entryCapacity, 500);
    ensureEntry(500);
    EXPECT_EQ(runState.entryCapacity, 750);
    EXPECT_EQ(runState.entryTable[499].sizeLow, 499u);
    EXPECT_EQ(runState.entryTable[0].sizeLow, 0u);
    // Large tables grow by half their size.
    ensureEntry(750);
    EXPECT_EQ(runState.entryCapacity, 1125);
}

TEST_F(EntryTableDeathTest, IndexBeyondTheTableIsAnAssertionStop) {
    createEntryTable();
    EXPECT_STOP(ensureEntry(501), testing::ExitedWithCode(1), "Failure at line 2800 in kazmain");
}

TEST_F(EntryTableDeathTest, RefusedTableIsTheOutOfMemoryStop) {
    const size_t firstTable = 500 * sizeof(SourceEntry);
    setHeapRefusal(0, firstTable);
    EXPECT_STOP(createEntryTable(), testing::ExitedWithCode(1),
                "Memory allocation for " + std::to_string(firstTable) + " bytes failed.");
}

// The record the walks keep per source entry is what makes a folder of a
// hundred thousand entries cost little: a seventh of a find record, with the
// mode, owner, group and change time that up-to-date copies are checked
// against (a no-change run over 100 000 files peaks at about 10 MB).
TEST(SourceEntryRecord, IsSmall) { EXPECT_LE(sizeof(SourceEntry), 48u); }
