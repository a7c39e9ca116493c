// A reference folder of real .lnk shortcuts: each linked folder is mirrored
// into a subfolder of the target named from its drive and path (with
// /nounc) or from the machine name, drive and path.
#include <gtest/gtest.h>

#include "win32/e2e_support.h"
#include "win32/shortcut_maker.h"
#include "win32/tree_compare.h"

using namespace wintest;

namespace {

class WindowsReference : public testing::Test, public KazRun {
protected:
    void SetUp() override {
        writeFile(data1 + "\\a.txt", "alpha\r\n");
        writeFile(data1 + "\\sub\\b.txt", "beta\r\n");
        writeFile(data2 + "\\c.txt", "gamma\r\n");
        makeFolders(reference + "\\folder");
        ASSERT_TRUE(makeShortcut(reference + "\\first.lnk", data1));
        ASSERT_TRUE(makeShortcut(reference + "\\second.lnk", data2));
        writeFile(reference + "\\note.txt", "not a shortcut\r\n");
    }
    // Where a folder lands below `root`: its drive letter as a folder, then
    // its path (C:\data gives root\C\data).
    static std::string below(const std::string& root, const std::string& folder) {
        return root + "\\" + folder.substr(0, 1) + folder.substr(2);
    }
    std::string data1 = folder() + "\\data1";
    std::string data2 = folder() + "\\data2";
    std::string reference = folder() + "\\ref";
    std::string backup = folder() + "\\backup";
};

}  // namespace

TEST_F(WindowsReference, NoUncMirrorsEachShortcutUnderItsDriveAndPath) {
    ASSERT_EQ(runWithoutBoxes({"@" + reference, backup, log, "/nowarn", "/nounc"}), 0);
    EXPECT_EQ(treeDifferences(data1, below(backup, data1)), "");
    EXPECT_EQ(treeDifferences(data2, below(backup, data2)), "");
    std::string text = logText();
    EXPECT_NE(text.find("Source: @" + reference + "\r\n"), std::string::npos) << text;
    for (const char* other : {"\\note.txt", "\\folder"}) {
        EXPECT_NE(text.find(": Unknown ShortCut in Reference folder\r\n:     " + reference + other +
                            "\r\n"),
                  std::string::npos)
            << other << "\n"
            << text;
    }
    EXPECT_EQ(countOf(text, "Unknown ShortCut"), 2) << text;
}

TEST_F(WindowsReference, RestoreMakesEachLinkedFolderLikeItsBackup) {
    ASSERT_EQ(runWithoutBoxes({"@" + reference, backup, log, "/nowarn", "/nounc"}), 0);
    writeFile(data1 + "\\a.txt", "changed after the backup\r\n");
    writeFile(data2 + "\\new.txt", "not in the backup\r\n");
    ASSERT_EQ(runWithoutBoxes({backup, "@" + reference, log, "/nowarn", "/nounc"}), 0);
    EXPECT_EQ(readFile(data1 + "\\a.txt"), "alpha\r\n");
    EXPECT_FALSE(fileExists(data2 + "\\new.txt"));
    EXPECT_EQ(treeDifferences(data1, below(backup, data1)), "");
}

TEST_F(WindowsReference, MachineNameFormNamesTheFoldersThroughTheComputerName) {
    char machine[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof machine;
    ASSERT_TRUE(GetComputerNameA(machine, &size));
    // C:\data in machine-name form: \\MACHINE\C\data.
    auto unc = [&](const std::string& folder) {
        return "\\\\" + std::string(machine) + "\\" + folder.substr(0, 1) + folder.substr(2);
    };
    std::vector<MessageBoxSeen> boxes;
    int exitCode = runKazAnswering({"@" + reference, backup, log, "/nowarn"}, IDOK, boxes);
    std::string text = logText();
    EXPECT_NE(text.find("Source: @" + reference + "\r\n"), std::string::npos) << text;
    if (exitCode == 0) {
        // Where the machine's drives are reachable as shares: each folder
        // lands below the machine's folder of the target.
        EXPECT_EQ(treeDifferences(data1, backup + unc(data1).substr(1)), "");
        EXPECT_NE(text.find(unc(data1) + "\\a.txt "), std::string::npos) << text;
        return;
    }
    // Under Wine a drive is no network share: the first shortcut's walk
    // cannot list its folder, and the run ends there, before the report.
    EXPECT_EQ(exitCode, 1);
    ASSERT_EQ(boxes.size(), 1u);
    const std::string& shown = boxes.front().text;
    bool named = shown.find("Error in source path (" + unc(data1) + "\\*.*)") != std::string::npos ||
                 shown.find("Error in source path (" + unc(data2) + "\\*.*)") != std::string::npos;
    EXPECT_TRUE(named) << shown;
    EXPECT_EQ(text.find("Total files copied"), std::string::npos) << text;
}
