// The command line as Windows hands it over: bad arguments end with the
// usage message box and exit code 1.
#include <gtest/gtest.h>

#include "win32/win_support.h"

using namespace wintest;

namespace {

// Runs kaz.exe with `arguments`, expects exactly one message box, answers it
// and returns it; the exit code goes to *exitCode.
MessageBoxSeen onlyBoxOf(const std::vector<std::string>& arguments, int* exitCode) {
    std::vector<MessageBoxSeen> boxes;
    *exitCode = runKazAnswering(arguments, IDOK, boxes);
    EXPECT_EQ(boxes.size(), 1u);
    return boxes.empty() ? MessageBoxSeen{} : boxes.front();
}

}  // namespace

TEST(WindowsUsage, UnknownSwitchShowsTheUsageAndFails) {
    TempFolder folder;
    writeFile(folder / "src\\a.txt", "a");
    int exitCode = 0;
    MessageBoxSeen box = onlyBoxOf({folder / "src", folder / "tgt", "/frobnicate"}, &exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(box.caption, "KAZ - message");
    EXPECT_NE(box.text.find("Switch not found: /frobnicate"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("KAZ @scriptfile [logfile][switches]"), std::string::npos);
    EXPECT_FALSE(folderExists(folder / "tgt"));
}

// The program takes its arguments from GetCommandLineA and splits them
// itself: blanks, tabs and commas end an unquoted argument, double quotes
// hold one with blanks and commas in it.
TEST(WindowsCommandLine, CommasSeparateAndQuotesHoldBlanksAndCommas) {
    TempFolder folder;
    ASSERT_EQ(folder.path().find_first_of(" ,"), std::string::npos)
        << "the temporary folder must take no quotes here";
    std::string source = folder / "source, with blank";
    writeFile(source + "\\a.txt", "alpha\r\n");
    std::string target = folder / "target";
    std::string log = folder / "run.log";
    std::string text = "\"" + source + "\"\t" + target + "," + log + " /nowarn";
    KazProcess kaz(text);
    ASSERT_TRUE(kaz.wait(kRunLimitMs));
    EXPECT_EQ(kaz.exitCode(), 0);
    EXPECT_EQ(readFile(target + "\\a.txt"), "alpha\r\n");
    std::string written = readFile(log);
    EXPECT_NE(written.find("Source: \"" + source + "\\*.*\"\r\nTarget: " + target + "\\*.*\r\n"),
              std::string::npos)
        << written;
}
