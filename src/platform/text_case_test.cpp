// Switch names are compared the same way on every platform, whatever the
// platform does with the case of file names.
#include <gtest/gtest.h>

#include "platform/text_case.h"

namespace {

using platform::sameTextIgnoringCase;

TEST(TextIgnoringCase, LettersMatchInEitherCase) {
    EXPECT_TRUE(sameTextIgnoringCase("-busyWaitTime", "-BUSYWAITTIME", 13));
    EXPECT_TRUE(sameTextIgnoringCase("/trialRun", "/TrIaLrUn", 9));
    EXPECT_FALSE(sameTextIgnoringCase("-verify", "-verity", 7));
}

TEST(TextIgnoringCase, OnlyTheFirstNBytesCount) {
    EXPECT_TRUE(sameTextIgnoringCase("-verify", "-VERI=1", 5));
    EXPECT_FALSE(sameTextIgnoringCase("-verify", "-VERI=1", 6));
    EXPECT_TRUE(sameTextIgnoringCase("abc", "xyz", 0));
}

TEST(TextIgnoringCase, TheEndOfATextEndsTheComparison) {
    EXPECT_TRUE(sameTextIgnoringCase("-do", "-DO", 10));
    EXPECT_FALSE(sameTextIgnoringCase("-dos", "-do", 4));
    EXPECT_FALSE(sameTextIgnoringCase("-do", "-dos", 10));
}

// Pairs 32 apart that are not a letter and its other case stay different,
// and so do bytes beyond ASCII, which file names on Windows fold.
TEST(TextIgnoringCase, OnlyAsciiLettersFold) {
    EXPECT_FALSE(sameTextIgnoringCase("[", "{", 1));
    EXPECT_FALSE(sameTextIgnoringCase("@", "`", 1));
    EXPECT_FALSE(sameTextIgnoringCase("^", "~", 1));
    EXPECT_FALSE(sameTextIgnoringCase("\xC4", "\xE4", 1));
}

}  // namespace
