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
