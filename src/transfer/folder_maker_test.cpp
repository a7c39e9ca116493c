#include "transfer/folder_maker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/conventions.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "test_support.h"

namespace {

bool isFolder(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

mode_t permissionsOf(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

// Trims the text written with '/' standing for the platform's separator.
std::string trimmed(std::string text) {
    for (char& c : text)
        if (c == '/') c = platform::kPathSeparator;
    trimFolderName(text.data());
    for (char& c : text)
        if (c == platform::kPathSeparator) c = '/';
    return text.c_str();
}

class FolderMaker : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        ASSERT_EQ(mkdir(source.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((source + "/a").c_str(), 0750), 0);
        ASSERT_EQ(mkdir((source + "/a/b").c_str(), 0500), 0);
        ASSERT_EQ(chmod((source + "/a/b").c_str(), 02500), 0);
    }
    void TearDown() override { resetRunState(); }
    void openTheLog() {
        runState.logFileName.assign(log.c_str());
        openLog();
    }
    std::string loggedText() {
        closeLog();
        return fileExists(log) ? readFile(log) : "";
    }
    TempDir dir;
    std::string source = dir / "src";
    std::string target = dir / "dst";
    std::string log = dir / "run.log";
};

TEST_F(FolderMaker, MissingFolderTwoLevelsDownIsMadeParentFirstWithSourcePermissions) {
    std::string targetText = target + "/a/b/";
    runState.verbose = 1;
    openTheLog();
    EXPECT_EQ(createFolder((source + "/a/b/").c_str(), targetText.c_str()), 1);
    EXPECT_EQ(targetText, target + "/a/b/");
    EXPECT_EQ(runState.totalDirectoriesCreated, 1);
    EXPECT_EQ(runState.foldersCreated, 2u);
    EXPECT_EQ(loggedText(), "MKDIR " + target + "/a\r\nMKDIR " + target + "/a/b\r\n");
    EXPECT_EQ(permissionsOf(target + "/a"), 0750u);
    // The run must be able to fill the folder, so the owner keeps its rights.
    EXPECT_EQ(permissionsOf(target + "/a/b"), 02700u);
}

TEST_F(FolderMaker, RootGivesNewFoldersTheSourceFoldersOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give folders away";
    ASSERT_EQ(lchown((source + "/a").c_str(), 4321, 4322), 0);
    ASSERT_EQ(lchown((source + "/a/b").c_str(), 4323, 4324), 0);
    ASSERT_EQ(chmod((source + "/a/b").c_str(), 02500), 0);
    EXPECT_EQ(makeTargetFolder((source + "/a/b/f").c_str(), (target + "/a/b/f").c_str(), nullptr),
              1);
    struct stat parent;
    struct stat child;
    ASSERT_EQ(lstat((target + "/a").c_str(), &parent), 0);
    ASSERT_EQ(lstat((target + "/a/b").c_str(), &child), 0);
    EXPECT_EQ(parent.st_uid, 4321u);
    EXPECT_EQ(parent.st_gid, 4322u);
    EXPECT_EQ(child.st_uid, 4323u);
    EXPECT_EQ(child.st_gid, 4324u);
    // Changing the owner must not cost the folder its set-group-ID bit.
    EXPECT_EQ(child.st_mode & 07777, 02700u);
}

TEST_F(FolderMaker, MkdirLinesOnlyWithVerboseOrDosAndNeverWhenQuiet) {
    struct Case {
        int verbose, dos, quiet;
        bool logged;
    };
    const Case cases[] = {{0, 0, 0, false}, {0, 1, 0, true}, {1, 0, 0, true}, {1, 1, 1, false}};
    int n = 0;
    for (const Case& c : cases) {
        resetRunState();
        runState.verbose = c.verbose;
        runState.dos = c.dos;
        runState.quiet = c.quiet;
        openTheLog();
        std::string folder = target + "/case" + std::to_string(n++);
        EXPECT_EQ(createFolderPath(nullptr, folder.c_str()), 1);
        EXPECT_TRUE(isFolder(folder));
        EXPECT_EQ(loggedText(), c.logged ? "MKDIR " + folder + "\r\n" : "")
            << c.verbose << c.dos << c.quiet;
    }
}

TEST_F(FolderMaker, ExistingFolderOrRootParentGivesZeroAndChangesNothing) {
    ASSERT_EQ(mkdir((target + "/there").c_str(), 0700), 0);
    EXPECT_EQ(createFolder(source.c_str(), (target + "/there").c_str()), 0);
    EXPECT_EQ(permissionsOf(target + "/there"), 0700u);
    // The parent of missing//x would be "missing/", which looks like a root.
    EXPECT_EQ(createFolderPath(nullptr, (target + "/missing//x/y").c_str()), 0);
    EXPECT_FALSE(fileExists(target + "/missing"));
    EXPECT_EQ(makeTargetFolder(nullptr, "file.txt", nullptr), 0);
    EXPECT_EQ(runState.totalDirectoriesCreated, 1);
    EXPECT_EQ(runState.foldersCreated, 0u);
}

TEST_F(FolderMaker, TrialRunReportsSuccessAndCreatesNothing) {
    runState.trialRun = 1;
    runState.verbose = 1;
    openTheLog();
    EXPECT_EQ(createFolder((source + "/a/b").c_str(), (target + "/a/b").c_str()), 1);
    EXPECT_EQ(makeTargetFolder(nullptr, (target + "/x/file").c_str(), nullptr), 1);
    EXPECT_FALSE(fileExists(target + "/a"));
    EXPECT_FALSE(fileExists(target + "/x"));
    EXPECT_EQ(runState.totalDirectoriesCreated, 2);
    EXPECT_EQ(runState.foldersCreated, 2u);
    EXPECT_EQ(loggedText(), "MKDIR " + target + "/a/b\r\nMKDIR " + target + "/x\r\n");
}

TEST_F(FolderMaker, FolderWhoseNameEndsInADotKeepsItsName) {
    ASSERT_EQ(mkdir((source + "/data.").c_str(), 0700), 0);
    EXPECT_EQ(makeTargetFolder((source + "/data./f").c_str(), (target + "/data./f").c_str(),
                               nullptr),
              1);
    if (!platform::kDriveLetters) {
        // "data" would be another folder, outside what was asked for.
        EXPECT_TRUE(isFolder(target + "/data."));
        EXPECT_FALSE(fileExists(target + "/data"));
    }
}

TEST(TrimFolderName, SeparatorDotAndDriveRules) {
    EXPECT_EQ(trimmed("/"), "/");
    EXPECT_EQ(trimmed("/data/"), "/data");
    EXPECT_EQ(trimmed("/data//"), "/data/");
    EXPECT_EQ(trimmed("."), ".");
    EXPECT_EQ(trimmed("/data/.."), "/data/..");
    EXPECT_EQ(trimmed("/data/."), "/data/.");
    // Only where the system itself drops a final dot is it cut here.
    EXPECT_EQ(trimmed("/data."), platform::kDriveLetters ? "/data" : "/data.");
    EXPECT_EQ(trimmed("C:/"), platform::kDriveLetters ? "C:/" : "C:");
    EXPECT_EQ(trimmed("c:/"), "c:");
}

}  // namespace
