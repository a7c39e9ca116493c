// Mirroring real trees under Windows conventions: backslash paths, names
// compared without regard to case, attributes and times carried over.
#include <gtest/gtest.h>

#include "win32/e2e_support.h"
#include "win32/tree_compare.h"

using namespace wintest;

namespace {

class WindowsMirror : public testing::Test, public KazRun {};

// Things the source lacks and things of the other kind under the same name.
void buildStaleTarget(const std::string& root) {
    makeFolders(root + "\\only-in-target\\sub");
    writeFile(root + "\\only-in-target\\sub\\file", "old\r\n");
    writeFile(root + "\\empty", "a file where the source has a folder\r\n");
    makeFolders(root + "\\zero");
    writeFile(root + "\\zero\\inner", "a folder where the source has a file\r\n");
    writeFile(root + "\\one", "a different content, same name\r\n");
}

}  // namespace

TEST_F(WindowsMirror, EmptyAndStaleTargetsBecomeExactCopies) {
    buildSourceTree(source);
    ASSERT_EQ(mirror(), 0);
    EXPECT_EQ(treeDifferences(source, target), "");
    EXPECT_NE(logText().find(":None - Source and Target synchronized.\r\n"), std::string::npos);

    removeTree(target);
    buildStaleTarget(target);
    ASSERT_EQ(mirror(), 0);
    EXPECT_EQ(treeDifferences(source, target), "");
    std::string text = logText();
    EXPECT_EQ(text.find(":-------- Exception List"), std::string::npos) << text;
    EXPECT_EQ(statLine(text, ": Total files deleted:"), ": Total files deleted:          4\r\n")
        << text;
}

TEST_F(WindowsMirror, LogNamesTheRunWithBackslashPathsAndQuotesAwkwardNames) {
    buildSourceTree(source);
    ASSERT_EQ(mirror(), 0);
    std::string text = logText();
    EXPECT_NE(text.find("Source: " + source + "\\*.*\r\nTarget: " + target + "\\*.*\r\n"),
              std::string::npos)
        << text;
    std::string copies = between(text, ":-------- File Copy List", ":-------- End of File Copy");
    EXPECT_NE(copies.find(source + "\\docs\\deep\\big.bin " + target + "\\docs\\deep\\big.bin\r\n"),
              std::string::npos)
        << copies;
    for (const char* name : {"\\name with blanks.txt", "\\a,b;c=[d]+e.txt"}) {
        EXPECT_NE(copies.find("\"" + source + name + "\" \"" + target + name + "\"\r\n"),
                  std::string::npos)
            << name << "\n"
            << copies;
    }
    EXPECT_EQ(statLine(text, ": Total files copied:"), ": Total files copied:           9\r\n");
}

TEST_F(WindowsMirror, SecondRunIsANoOpAndRemovesWhatTheSourceLost) {
    buildSourceTree(source);
    ASSERT_EQ(mirror(), 0);
    std::string before = snapshot(target);
    ASSERT_EQ(mirror(), 0);
    std::string text = logText();
    EXPECT_EQ(statLine(text, ": Total files copied:"), ": Total files copied:           0\r\n");
    EXPECT_EQ(statLine(text, ": Total files deleted:"), ": Total files deleted:          0\r\n");
    EXPECT_EQ(snapshot(target), before);

    removeTree(source + "\\docs\\deep");
    removeTree(source + "\\one");
    ASSERT_EQ(mirror(), 0);
    EXPECT_EQ(treeDifferences(source, target), "");
    EXPECT_FALSE(folderExists(target + "\\docs\\deep"));
    EXPECT_FALSE(fileExists(target + "\\one"));
}

TEST_F(WindowsMirror, TargetNameDifferingOnlyInCaseIsTheSameFile) {
    makeFolders(source);
    writeFile(source + "\\Report.Doc", "report\r\n");
    setLastWriteTime(source + "\\Report.Doc", 300000000);
    makeFolders(target);
    writeFile(target + "\\REPORT.DOC", "report\r\n");
    setLastWriteTime(target + "\\REPORT.DOC", 300000000);
    ASSERT_EQ(mirror(), 0);
    std::string text = logText();
    EXPECT_EQ(statLine(text, ": Total files copied:"), ": Total files copied:           0\r\n")
        << text;
    EXPECT_EQ(statLine(text, ": Total files deleted:"), ": Total files deleted:          0\r\n");
    // The target keeps its own spelling.
    EXPECT_NE(snapshot(target).find("\\REPORT.DOC "), std::string::npos) << snapshot(target);

    // A change of contents under the other spelling is still found.
    writeFile(source + "\\Report.Doc", "report, longer now\r\n");
    ASSERT_EQ(mirror(), 0);
    EXPECT_EQ(readFile(target + "\\report.doc"), "report, longer now\r\n");
}

TEST_F(WindowsMirror, TrialRunChangesNothing) {
    buildSourceTree(source);
    buildStaleTarget(target);
    std::string before = snapshot(target);
    ASSERT_EQ(mirror({"/trialRun"}), 0);
    EXPECT_EQ(snapshot(target), before);
    // The run still reports what it would have done.
    std::string copies = between(logText(), ":-------- File Copy List", ":-------- End of File Copy");
    EXPECT_NE(copies.find(source + "\\one " + target + "\\one\r\n"), std::string::npos) << copies;
}

TEST_F(WindowsMirror, ExcludedFilesAndFoldersStayOut) {
    buildSourceTree(source);
    writeFile(source + "\\scratch.tmp", "temporary\r\n");
    writeFile(source + "\\docs\\more.TMP", "temporary\r\n");
    ASSERT_EQ(mirror({"/x=*.tmp", "/exclude=deep\\"}), 0);
    EXPECT_FALSE(fileExists(target + "\\scratch.tmp"));
    EXPECT_FALSE(fileExists(target + "\\docs\\more.TMP"));
    EXPECT_TRUE(fileExists(target + "\\docs\\block"));
    // A filter ending in a backslash keeps out what is inside such a folder
    // (files and folders alike), not the folder itself.
    EXPECT_TRUE(folderExists(target + "\\docs\\deep"));
    EXPECT_EQ(snapshot(target + "\\docs\\deep"), "");
    std::string text = logText();
    // The two .tmp files, then big.bin and the folder deeper inside deep.
    EXPECT_EQ(statLine(text, ": Total files excluded:"), ": Total files excluded:         4\r\n")
        << text;
}

// A source that lost everything removes no more than the limit allows; the
// rest stays, the run says why and ends with code 2. A trial run tells the
// same and changes nothing.
TEST_F(WindowsMirror, DeleteLimitKeepsWhatIsBeyondIt) {
    makeFolders(source);
    makeFolders(target + "\\old\\sub");
    for (const char* name : {"\\old\\a", "\\old\\b", "\\old\\sub\\c", "\\old\\sub\\d"})
        writeFile(target + name, name);
    std::string before = snapshot(target);
    ASSERT_EQ(mirror({"/trialRun", "/limitDelete=2"}), 2);
    EXPECT_EQ(snapshot(target), before);
    EXPECT_NE(logText().find(": KAZ - Delete limit of 2 reached: 4 entries would not be removed\r\n"),
              std::string::npos)
        << logText();

    ASSERT_EQ(mirror({"/lim=0"}), 2);
    EXPECT_EQ(snapshot(target), before);
    ASSERT_EQ(mirror({"/limitDelete=2"}), 2);
    std::string text = logText();
    EXPECT_NE(text.find(": KAZ - Delete limit of 2 reached: 4 entries not removed\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find(":-------- Exception List"), std::string::npos) << text;
    EXPECT_TRUE(folderExists(target + "\\old"));
    ASSERT_EQ(mirror({"/LIMITDELETE=4"}), 0);
    EXPECT_FALSE(folderExists(target + "\\old"));
}
