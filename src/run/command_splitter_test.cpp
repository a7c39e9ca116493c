#include "run/command_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text_buffer.h"

namespace {

struct Split {
    std::vector<std::string> arguments;
    std::string commandText;
};

Split split(const std::string& line, int limit = 100) {
    std::string copy = line;
    std::vector<char*> argv(static_cast<size_t>(limit) + 1);
    TextBuffer commandText("KAZ ");
    int count = splitCommandLine(copy.data(), argv.data(), limit, commandText);
    Split result;
    for (int i = 0; i < count; ++i) result.arguments.emplace_back(argv[static_cast<size_t>(i)]);
    result.commandText = commandText.text();
    return result;
}

using Args = std::vector<std::string>;

}  // namespace

TEST(CommandSplitter, BlanksSeparateAndTheTitleKeepsTheLineAsTyped) {
    Split s = split("prog a b");
    EXPECT_EQ(s.arguments, (Args{"prog", "a", "b"}));
    EXPECT_EQ(s.commandText, "KAZ a b");

    s = split("prog  \"D:\\My Files\"  E:\\x");
    EXPECT_EQ(s.arguments, (Args{"prog", "D:\\My Files", "E:\\x"}));
    EXPECT_EQ(s.commandText, "KAZ \"D:\\My Files\"  E:\\x");
}

TEST(CommandSplitter, CommasEndUnquotedArguments) {
    EXPECT_EQ(split("prog a,b").arguments, (Args{"prog", "a", "b"}));
    EXPECT_EQ(split("prog a ,b").arguments, (Args{"prog", "a", "", "b"}));
    EXPECT_EQ(split("prog \"x\",y").arguments, (Args{"prog", "x", "", "y"}));
}

TEST(CommandSplitter, QuotesHaveNoEscapeAndMayStayOpen) {
    EXPECT_EQ(split("prog \"a b\"c").arguments, (Args{"prog", "a b", "c"}));
    EXPECT_EQ(split("prog \"abc").arguments, (Args{"prog", "abc"}));
    EXPECT_EQ(split("prog \t a\t").arguments, (Args{"prog", "a"}));
}

TEST(CommandSplitter, StopsAtTheLimit) {
    std::string line = "prog";
    for (int i = 1; i < 150; ++i) line += " w" + std::to_string(i);
    Split s = split(line);
    ASSERT_EQ(s.arguments.size(), 100u);
    EXPECT_EQ(s.arguments.back(), "w99");
}

TEST(CommandSplitter, ProgramNameAloneLeavesTheTitleAlone) {
    Split s = split("  prog  ");
    EXPECT_EQ(s.arguments, (Args{"prog"}));
    EXPECT_EQ(s.commandText, "KAZ ");
    EXPECT_TRUE(split("").arguments.empty());
}
