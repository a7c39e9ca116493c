#include <gtest/gtest.h>

#include <string>

#include "platform/conventions.h"
#include "platform/real_path.h"
#include "platform/windows_api.h"

namespace {

TEST(WindowsNames, LetterCaseIsIgnoredAndHashesAgree) {
    EXPECT_TRUE(platform::sameName("Report.Doc", "REPORT.DOC"));
    EXPECT_TRUE(platform::sameName("C:\\Data\\a.txt", "c:\\data\\A.TXT"));
    EXPECT_FALSE(platform::sameName("report.doc", "report.do"));
    EXPECT_FALSE(platform::sameName("a", "b"));
    EXPECT_EQ(platform::nameHash("Report.Doc"), platform::nameHash("rEPORT.dOC"));
    EXPECT_NE(platform::nameHash("report.doc"), platform::nameHash("report.dot"));
    // Letters beyond ASCII fold as the ANSI code page has them.
    char lower[] = "\xe4", upper[] = "\xe4";
    CharUpperA(upper);
    EXPECT_TRUE(platform::sameName(lower, upper));
    EXPECT_EQ(platform::nameHash(lower), platform::nameHash(upper));
}

TEST(WindowsNames, PrefixesCompareWithoutCaseUpToTheGivenLength) {
    EXPECT_TRUE(platform::sameNamePrefix("C:\\DATA\\sub", "c:\\data\\other", 8));
    EXPECT_FALSE(platform::sameNamePrefix("C:\\DATA\\sub", "c:\\date\\sub", 8));
    // A shorter name ends the comparison at its terminator.
    EXPECT_TRUE(platform::sameNamePrefix("ab", "AB", 10));
    EXPECT_FALSE(platform::sameNamePrefix("ab", "ABC", 10));
}

TEST(WindowsPaths, ResolvedPathsAreFullWithBackslashesAndWithinMaxPath) {
    char current[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
    ASSERT_GT(length, 0u);
    std::string here(current, length);
    if (here.back() != '\\') here += '\\';
    std::string resolved;
    ASSERT_TRUE(platform::resolvePath("sub/deeper/../file.txt", resolved));
    EXPECT_EQ(resolved, here + "sub\\file.txt");
    ASSERT_TRUE(platform::resolvePath("D:\\a\\.\\b\\..\\c", resolved));
    EXPECT_EQ(resolved, "D:\\a\\c");
    // A full path must fit MAX_PATH with its terminator.
    std::string longest = "D:\\" + std::string(MAX_PATH - 4, 'x');
    ASSERT_TRUE(platform::resolvePath(longest.c_str(), resolved));
    EXPECT_EQ(resolved, longest);
    EXPECT_FALSE(platform::resolvePath((longest + "y").c_str(), resolved));
}

}  // namespace
