#include "shell/delay_entry.h"

#include <gtest/gtest.h>

TEST(DelayCharacter, DigitsControlCharactersAndOneMinusAreTaken) {
    for (char c : std::string("0123456789")) EXPECT_TRUE(delayCharacterTaken("12", c)) << c;
    EXPECT_TRUE(delayCharacterTaken("12", '\b'));
    EXPECT_TRUE(delayCharacterTaken("", '-'));
    EXPECT_TRUE(delayCharacterTaken("12", '-'));
    EXPECT_FALSE(delayCharacterTaken("-1", '-'));
    EXPECT_FALSE(delayCharacterTaken("1-", '-'));
    for (char c : std::string("aZ +.,e\x7f")) EXPECT_FALSE(delayCharacterTaken("1", c)) << int(c);
    EXPECT_FALSE(delayCharacterTaken("1", static_cast<char>(0xE9)));
}

TEST(DelayCheck, WholeNumbersWithinTheRangePass) {
    int32_t value = 7;
    EXPECT_EQ(checkDelayText("-1", value), nullptr);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(checkDelayText("0", value), nullptr);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(checkDelayText("10000", value), nullptr);
    EXPECT_EQ(value, 10000);
    EXPECT_EQ(checkDelayText("0050", value), nullptr);
    EXPECT_EQ(value, 50);
}

TEST(DelayCheck, OutsideTheRangeOrNoNumberIsRefusedAndKeepsTheValue) {
    int32_t value = 7;
    EXPECT_STREQ(checkDelayText("10001", value), kDelayOutOfRange);
    EXPECT_STREQ(checkDelayText("-2", value), kDelayOutOfRange);
    EXPECT_STREQ(checkDelayText("99999999999999999999", value), kDelayOutOfRange);
    EXPECT_STREQ(checkDelayText("", value), kDelayNotAnInteger);
    EXPECT_STREQ(checkDelayText("-", value), kDelayNotAnInteger);
    EXPECT_STREQ(checkDelayText("5-", value), kDelayNotAnInteger);
    EXPECT_STREQ(checkDelayText("1 ", value), kDelayNotAnInteger);
    EXPECT_STREQ(checkDelayText("0x10", value), kDelayNotAnInteger);
    EXPECT_EQ(value, 7);
}
