#include "transfer/file_link.h"

#include <filesystem>
#include <string>

#include "platform/fault_injection.h"
#include "transfer/transfer_test_fixture.h"

namespace {

namespace faults = platform::faults;

ino_t inodeOf(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

size_t entriesIn(const std::string& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

class LinkTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        writeFile(target("first"), "the copy");
    }
    bool link(const std::string& name) {
        return linkFile(target("first").c_str(), target(name).c_str());
    }
    faults::Scope faultScope;
};

TEST_F(LinkTest, ANewNameIsLinkedLoggedAndCountedWithoutBytes) {
    ASSERT_TRUE(link("second"));
    EXPECT_EQ(inodeOf(target("second")), inodeOf(target("first")));
    EXPECT_NE(logText().find(": Hard link " + target("first") + " " + target("second") + "\r\n"),
              std::string::npos)
        << logText();
    EXPECT_EQ(runState.filesProcessed, 1u);
    EXPECT_EQ(runState.filesCreated, 1u);
    EXPECT_EQ(runState.totalFilesCopied, 0);
    EXPECT_EQ(runState.bytesCopied, 0.0);
}

TEST_F(LinkTest, AnOldFileIsReplacedInOneStepWithNothingLeftBeside) {
    writeFile(target("second"), "an older, separate copy");
    ASSERT_EQ(chmod(target("second").c_str(), 0444), 0);
    ASSERT_TRUE(link("second"));
    EXPECT_EQ(inodeOf(target("second")), inodeOf(target("first")));
    EXPECT_EQ(readFile(target("second")), "the copy");
    EXPECT_EQ(runState.totalFilesDeleted, 1);
    EXPECT_EQ(entriesIn(targetDir), 2u);
}

TEST_F(LinkTest, AnOldFileInUseOrAFailedLinkLeavesEverythingAsItWas) {
    writeFile(target("busy"), "held by another program");
    {
        ForeignLock lock(target("busy"), LOCK_EX);
        EXPECT_FALSE(link("busy"));
    }
    EXPECT_EQ(readFile(target("busy")), "held by another program");

    writeFile(target("second"), "old");
    faults::arm(faults::Fault(faults::Call::MoveFile, ERROR_ACCESS_DENIED));
    EXPECT_FALSE(link("second"));
    EXPECT_EQ(readFile(target("second")), "old");
    faults::arm(faults::Fault(faults::Call::CreateHardLink, ERROR_DISK_FULL).onPath("third"));
    EXPECT_FALSE(link("third"));
    EXPECT_FALSE(fileExists(target("third")));

    EXPECT_EQ(entriesIn(targetDir), 3u);
    EXPECT_EQ(runState.filesProcessed, 0u);
    EXPECT_EQ(logText().find("Hard link"), std::string::npos);
}

TEST_F(LinkTest, ATrialRunReportsTheLinkAndMakesNone) {
    runState.trialRun = true;
    ASSERT_TRUE(link("second"));
    EXPECT_FALSE(fileExists(target("second")));
    EXPECT_NE(logText().find(": Hard link "), std::string::npos);
    EXPECT_EQ(runState.filesProcessed, 1u);
}

}  // namespace
