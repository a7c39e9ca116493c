#include "transfer/file_lookup.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "test_support.h"

namespace {

class FileLookup : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        std::filesystem::create_directories(data);
    }
    void TearDown() override { resetRunState(); }
    void openLogAt(const std::string& log) {
        runState.logFileName.assign(log.c_str());
        openLog();
    }
    TempDir dir;
    std::string data = dir / "data";
};

TEST_F(FileLookup, LookupFillsAttributesTimesAndSizeOnly) {
    std::string file = dir / "report.txt";
    writeFile(file, "12345");
    BY_HANDLE_FILE_INFORMATION record;
    std::memset(&record, 0xAB, sizeof record);
    lookupFileInfo(record, file.c_str());
    EXPECT_TRUE(record.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(record.nFileSizeLow, 5u);
    EXPECT_EQ(record.nFileSizeHigh, 0u);
    EXPECT_NE(record.ftLastWriteTime.dwHighDateTime, 0u);
    EXPECT_NE(record.ftLastAccessTime.dwHighDateTime, 0u);
    EXPECT_NE(record.ftCreationTime.dwHighDateTime, 0u);
    EXPECT_EQ(record.dwVolumeSerialNumber | record.nNumberOfLinks | record.nFileIndexHigh |
                  record.nFileIndexLow,
              0u);
    lookupFileInfo(record, data.c_str());
    EXPECT_TRUE(record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FileLookup, LookupWithTestSwitchLogsAttributesInBinaryAndMissingNamesNothing) {
    std::string file = dir / "a.txt";
    writeFile(file, "x");
    std::string log = dir / "run.log";
    openLogAt(log);
    runState.test = 1;
    BY_HANDLE_FILE_INFORMATION record;
    std::memset(&record, 0xAB, sizeof record);
    lookupFileInfo(record, (dir / "absent.txt").c_str());
    BY_HANDLE_FILE_INFORMATION zero{};
    EXPECT_EQ(std::memcmp(&record, &zero, sizeof record), 0);
    lookupFileInfo(record, file.c_str());
    closeLog();
    std::string digits = std::bitset<32>(record.dwFileAttributes).to_string();
    digits.erase(0, digits.find('1'));
    EXPECT_EQ(readFile(log), ": /test FindFirstFile " + digits + "\r\n");
}

}  // namespace
