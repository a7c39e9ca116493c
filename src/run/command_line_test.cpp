#include "run/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/run_state.h"
#include "test_support.h"

namespace {

class CommandLineTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override {
        for (HANDLE* h : {&runState.scriptHandle, &runState.logHandle}) {
            if (*h != INVALID_HANDLE_VALUE) CloseHandle(*h);
        }
        if (runState.referenceFind != INVALID_HANDLE_VALUE) FindClose(runState.referenceFind);
        resetRunState();
    }
    int parse(std::vector<std::string> words) {
        words.insert(words.begin(), "kaz");
        args = words;
        pointers.clear();
        for (auto& w : args) pointers.push_back(w.data());
        return parseCommandLine(static_cast<int>(pointers.size()), pointers.data(), "KAZ test");
    }
    std::vector<std::string> args;
    std::vector<char*> pointers;
    TempDir dir;
};

using CommandLineDeathTest = CommandLineTest;

// How many rows of the switch table an argument selects.
int selections(const char* argument) {
    const char* flags[] = {"-debug", "-dos", "-noShare", "-nounc", "-nowarn", "-quiet",
                           "-tally", "-test", "-time", "-trialRun", "-verbose", "-verify"};
    const char* numbers[] = {"-busyWaitTime", "-delayopen", "-delaysource", "-delaytarget",
                             "-Maxerrors"};
    int32_t field = 0;
    int count = 0;
    for (const char* name : flags) count += matchFlag(name, argument, field);
    for (const char* name : numbers) count += matchNumber(name, argument, field);
    TextBuffer text;
    count += matchText("-x", argument, text) || matchText("-exclude", argument, text);
    return count;
}

}  // namespace

TEST(SwitchMatcher, AbbreviationsSelectOneSwitchOrAreAmbiguous) {
    EXPECT_EQ(selections("-v"), 2);
    EXPECT_EQ(selections("-ver"), 2);
    EXPECT_EQ(selections("-verb"), 1);
    EXPECT_EQ(selections("-veri"), 1);
    EXPECT_EQ(selections("-t"), 4);
    for (const char* one : {"-ti", "-te", "-ta", "-tr", "-de", "-nos", "-nou", "-now", "-q"}) {
        EXPECT_EQ(selections(one), 1) << one;
    }
    EXPECT_EQ(selections("-d"), 2);
    EXPECT_EQ(selections("-n"), 3);
    EXPECT_EQ(selections("-no"), 3);
    EXPECT_EQ(selections("-del=5"), 3);
    EXPECT_EQ(selections("-delayo=5"), 1);
}

TEST(SwitchMatcher, NumbersNeedThreeCharactersAndTextsTwo) {
    EXPECT_EQ(selections("-b=5"), 0);
    EXPECT_EQ(selections("-m=5"), 0);
    EXPECT_EQ(selections("-bu=5"), 1);
    EXPECT_EQ(selections("-ma=5"), 1);
    EXPECT_EQ(selections("-x"), 0);
    EXPECT_EQ(selections("-e=*.tmp"), 1);
    EXPECT_EQ(selections("-exclude=*.tmp"), 1);
    EXPECT_EQ(selections("-verify=1"), 0);
    EXPECT_EQ(selections("-verifyx"), 0);
}

TEST(SwitchMatcher, CaseIsIgnored) {
    int32_t field = 0;
    EXPECT_EQ(matchFlag("-verify", "-VERIFY", field), 1);
    EXPECT_EQ(field, 1);
    EXPECT_EQ(matchNumber("-busyWaitTime", "-BUSYWAITTIME=12", field), 1);
    EXPECT_EQ(field, 12);
}

TEST(SwitchMatcher, NumberValues) {
    int32_t field = -1;
    EXPECT_EQ(matchNumber("-delayopen", "-delayopen=", field), 1);
    EXPECT_EQ(field, 0);
    EXPECT_EQ(matchNumber("-delayopen", "-delayo=2147483647", field), 1);
    EXPECT_EQ(field, 2147483647);
}

TEST(SwitchMatcher, TextValueIsEverythingAfterTheFirstEquals) {
    TextBuffer value;
    EXPECT_EQ(matchText("-x", "-x=a=b c", value), 1);
    EXPECT_STREQ(value.text(), "a=b c");
}

TEST_F(CommandLineTest, TreeToTreeWithSwitchesAnywhere) {
    EXPECT_EQ(parse({"-verify", "src", "-delayopen=20000", "dst", "-de", "--quiet"}), TreeToTree);
    EXPECT_STREQ(runState.sourceArg.text(), "src");
    EXPECT_STREQ(runState.targetArg.text(), "dst");
    EXPECT_EQ(runState.logFileName.data, nullptr);
    EXPECT_EQ(runState.verify, 1);
    EXPECT_EQ(runState.debug, 1);
    EXPECT_EQ(runState.quiet, 1);
    EXPECT_EQ(runState.delayOpen, 10000);
    EXPECT_EQ(runState.logHandle, INVALID_HANDLE_VALUE);
}

TEST_F(CommandLineTest, TrialRunForcesVerbose) {
    parse({"s", "t", "-tr"});
    EXPECT_EQ(runState.trialRun, 1);
    EXPECT_EQ(runState.verbose, 1);
}

TEST_F(CommandLineTest, EmptyArgumentCountsAsSupplied) {
    EXPECT_EQ(parse({"", "t"}), TreeToTree);
    EXPECT_STREQ(runState.sourceArg.text(), "");
}

TEST_F(CommandLineTest, ExistingFileAfterAtIsAScript) {
    std::string list = dir / "list.txt";
    writeFile(list, "a b\r\n");
    EXPECT_EQ(parse({"@" + list}), Script);
    EXPECT_EQ(runState.logFileName.data, nullptr);
    EXPECT_NE(runState.scriptHandle, INVALID_HANDLE_VALUE);
}

TEST_F(CommandLineTest, ScriptTakesItsSecondArgumentAsTheLog) {
    std::string list = dir / "list.txt";
    writeFile(list, "");
    EXPECT_EQ(parse({"@" + list, dir / "run.log"}), Script);
    EXPECT_EQ(std::string(runState.logFileName.text()), dir / "run.log");
    EXPECT_EQ(runState.targetArg.data, nullptr);
    EXPECT_NE(runState.logHandle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fileExists(dir / "run.log.~~~"));
}

TEST_F(CommandLineTest, FolderAfterAtIsAReference) {
    EXPECT_EQ(parse({"@" + dir.path(), "t"}), ReferenceToTree);
    EXPECT_NE(runState.referenceFind, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(runState.referenceFindData.cFileName, ".");
}

TEST_F(CommandLineTest, AtTargetIsAReferenceToRestore) {
    EXPECT_EQ(parse({"s", "@" + dir.path()}), TreeToReference);
    EXPECT_NE(runState.referenceFind, INVALID_HANDLE_VALUE);
}

TEST_F(CommandLineTest, ExcludeSwitchesAndListFilesAddFilters) {
    std::string list = dir / "filters";
    writeFile(list, "  *.tmp\r\n\tcache\\ @notalist\n\n");
    parse({"s", "t", "-x=*.bak", "-exclude=@" + list, "-e=a b"});
    ASSERT_EQ(runState.excludeCount, 5);
    EXPECT_STREQ(runState.excludeFilters[0], "*.bak");
    EXPECT_STREQ(runState.excludeFilters[1], "*.tmp");
    EXPECT_STREQ(runState.excludeFilters[2], "cache\\");
    EXPECT_STREQ(runState.excludeFilters[3], "@notalist");
    EXPECT_STREQ(runState.excludeFilters[4], "a b");
    EXPECT_STREQ(runState.excludeText.text(), "*.bak *.tmp cache\\ @notalist \"a b\" ");
}

TEST_F(CommandLineTest, FiltersGrowInStepsOfTen) {
    std::vector<std::string> words = {"s", "t"};
    for (int i = 0; i < 25; ++i) words.push_back("-x=f" + std::to_string(i));
    parse(words);
    EXPECT_EQ(runState.excludeCount, 25);
    EXPECT_EQ(runState.excludeCapacity, 30);
    EXPECT_STREQ(runState.excludeFilters[24], "f24");
}

TEST_F(CommandLineDeathTest, EachArgumentErrorShowsItsMessageAndTheUsage) {
    std::string list = dir / "list.txt";
    writeFile(list, "");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "No source or target"},
        {{"-v", "a", "b"}, "Ambiguous switch: -v"},
        {{"a", "b", "-bogus"}, "Switch not found: -bogus"},
        {{"a", "b", "-verify=1"}, "Switch not found: -verify=1"},
        {{"a", "b", "-delayopen=5ms"}, "Invalid character in numberic argument: -delayopen=5ms"},
        {{"a", "b", "-delayopen=-5"}, "Invalid character in numberic argument: -delayopen=-5"},
        {{"a", "b", "-bu=99999999999"}, "Number too large in numeric argument: -bu=99999999999"},
        {{"a", "b", "c", "d"}, "Too many arguments: d"},
        {{"a"}, "Target not specified"},
        {{"a", "b/*.bak"}, "Target must not contain wildcards: b/\\*\\.bak"},
        {{"a", "b?"}, "Target must not contain wildcards: b\\?"},
        {{"@" + list, "l", "x"}, "Extra argument: x"},
        {{"@" + dir.path()}, "No target "},
        {{"@" + dir.path(), "@t"}, "Invalid target: @t"},
        {{"@nosuch", "t"}, "Scriptfile or reference not found: nosuch"},
        {{"s", "@nosuch"}, "Reference not found: nosuch"},
    };
    for (const auto& [words, message] : cases) {
        EXPECT_EXIT(parse(words), testing::ExitedWithCode(1),
                    "KAZ - message\nKAZ test\n\n" + message + "[^\n]*\n\n KAZ source target")
            << message;
    }
}

TEST_F(CommandLineDeathTest, MissingFilterListIsFatalWithoutTheUsage) {
    EXPECT_EXIT(parse({"s", "t", "-x=@" + dir / "missing"}), testing::ExitedWithCode(1),
                "KAZ - message\nExclude list not found: [^\n]*/missing\n$");
}

TEST_F(CommandLineDeathTest, TooManyArgumentsNamesTheFirstOneBeyondTheLimit) {
    std::vector<std::string> words = {"s", "t"};
    for (int i = 0; i < 100; ++i) words.push_back("-q");
    words[99] = "-the100th";
    EXPECT_EXIT(parse(words), testing::ExitedWithCode(1), "Too many arguments: -the100th");
}

TEST_F(CommandLineDeathTest, OverlongFilterInAListIsFatal) {
    std::string list = dir / "filters";
    writeFile(list, "ok " + std::string(4096, 'f') + " later");
    EXPECT_EXIT(parse({"s", "t", "-x=@" + list}), testing::ExitedWithCode(1),
                "Exclude filter too large.");
}

TEST(UsageText, ShowsSwitchesWithThePlatformPrefix) {
    std::string usage = usageText();
    EXPECT_NE(usage.find("  -busywaittime=seconds -delayopen=milliseconds"), std::string::npos);
    EXPECT_NE(usage.find("   -quiet -time -trialrun -verbose -verify\r\n"), std::string::npos);
    EXPECT_EQ(usage.find('/'), std::string::npos);
}
