#include "run/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/conventions.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "run_as_worker.h"
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

// A switch as the platform writes it.
std::string sw(const char* name) { return platform::kSwitchPrefix + std::string(name); }
// The long spelling of a switch: "--name" where switches begin with "-".
std::string longSwitch(const char* name) {
    return platform::kSwitchPrefix == '-' ? "--" + std::string(name) : sw(name);
}

// The path separator as a death-test pattern.
std::string separatorPattern() {
    return platform::kPathSeparator == '\\' ? "\\\\" : std::string(1, platform::kPathSeparator);
}

// How many rows of the switch table an argument selects.
int selections(const std::string& argumentText) {
    const char* argument = argumentText.c_str();
    const std::string flags[] = {sw("debug"), sw("dos"), sw("noShare"), sw("nounc"), sw("nowarn"), sw("quiet"),
                           sw("tally"), sw("test"), sw("time"), sw("trialRun"), sw("verbose"), sw("verify")};
    const std::string numbers[] = {sw("busyWaitTime"), sw("delayopen"), sw("delaysource"), sw("delaytarget"),
                             sw("Maxerrors"), sw("limitDelete")};
    int32_t field = 0;
    int count = 0;
    for (const std::string& name : flags) count += matchFlag(name.c_str(), argument, field);
    for (const std::string& name : numbers) count += matchNumber(name.c_str(), argument, field);
    TextBuffer text;
    count += matchText(sw("x").c_str(), argument, text) ||
             matchText(sw("exclude").c_str(), argument, text);
    return count;
}

}  // namespace

TEST(SwitchMatcher, AbbreviationsSelectOneSwitchOrAreAmbiguous) {
    EXPECT_EQ(selections(sw("v")), 2);
    EXPECT_EQ(selections(sw("ver")), 2);
    EXPECT_EQ(selections(sw("verb")), 1);
    EXPECT_EQ(selections(sw("veri")), 1);
    EXPECT_EQ(selections(sw("t")), 4);
    for (const std::string& one : {sw("ti"), sw("te"), sw("ta"), sw("tr"), sw("de"), sw("nos"), sw("nou"), sw("now"), sw("q")}) {
        EXPECT_EQ(selections(one), 1) << one;
    }
    EXPECT_EQ(selections(sw("d")), 2);
    EXPECT_EQ(selections(sw("n")), 3);
    EXPECT_EQ(selections(sw("no")), 3);
    EXPECT_EQ(selections(sw("del=5")), 3);
    EXPECT_EQ(selections(sw("delayo=5")), 1);
    // The delete limit is the only switch beginning with "l".
    EXPECT_EQ(selections(sw("lim=5")), 1);
    EXPECT_EQ(selections(sw("LIMITDELETE=5")), 1);
    EXPECT_EQ(selections(sw("li=5")), 1);
    EXPECT_EQ(selections(sw("l=5")), 0);
    EXPECT_EQ(selections(sw("limitDelete")), 0);
}

TEST(SwitchMatcher, NumbersNeedThreeCharactersAndTextsTwo) {
    EXPECT_EQ(selections(sw("b=5")), 0);
    EXPECT_EQ(selections(sw("m=5")), 0);
    EXPECT_EQ(selections(sw("bu=5")), 1);
    EXPECT_EQ(selections(sw("ma=5")), 1);
    EXPECT_EQ(selections(sw("x")), 0);
    EXPECT_EQ(selections(sw("e=*.tmp")), 1);
    EXPECT_EQ(selections(sw("exclude=*.tmp")), 1);
    EXPECT_EQ(selections(sw("verify=1")), 0);
    EXPECT_EQ(selections(sw("verifyx")), 0);
}

TEST(SwitchMatcher, CaseIsIgnored) {
    int32_t field = 0;
    EXPECT_EQ(matchFlag(sw("verify").c_str(), sw("VERIFY").c_str(), field), 1);
    EXPECT_EQ(field, 1);
    EXPECT_EQ(matchNumber(sw("busyWaitTime").c_str(), sw("BUSYWAITTIME=12").c_str(), field), 1);
    EXPECT_EQ(field, 12);
}

TEST(SwitchMatcher, NumberValues) {
    int32_t field = -1;
    EXPECT_EQ(matchNumber(sw("delayopen").c_str(), sw("delayopen=").c_str(), field), 1);
    EXPECT_EQ(field, 0);
    EXPECT_EQ(matchNumber(sw("delayopen").c_str(), sw("delayo=2147483647").c_str(), field), 1);
    EXPECT_EQ(field, 2147483647);
}

TEST(SwitchMatcher, TextValueIsEverythingAfterTheFirstEquals) {
    TextBuffer value;
    EXPECT_EQ(matchText(sw("x").c_str(), sw("x=a=b c").c_str(), value), 1);
    EXPECT_STREQ(value.text(), "a=b c");
}

TEST_F(CommandLineTest, TreeToTreeWithSwitchesAnywhere) {
    EXPECT_EQ(parse({sw("verify"), "src", sw("delayopen=20000"), "dst", sw("de"), longSwitch("quiet")}), TreeToTree);
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
    parse({"s", "t", sw("tr")});
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
    parse({"s", "t", sw("x=*.bak"), sw("exclude=@") + list, sw("e=a b")});
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
    for (int i = 0; i < 25; ++i) words.push_back(sw("x=f") + std::to_string(i));
    parse(words);
    EXPECT_EQ(runState.excludeCount, 25);
    EXPECT_EQ(runState.excludeCapacity, 30);
    EXPECT_STREQ(runState.excludeFilters[24], "f24");
}

TEST_F(CommandLineTest, DeleteLimitIsOffUnlessGiven) {
    EXPECT_EQ(parse({"src", "dst"}), TreeToTree);
    EXPECT_EQ(runState.limitDelete, -1);
    EXPECT_EQ(parse({"src", "dst", sw("limitDelete=10")}), TreeToTree);
    EXPECT_EQ(runState.limitDelete, 10);
    EXPECT_EQ(parse({"src", "dst", longSwitch("lim=0")}), TreeToTree);
    EXPECT_EQ(runState.limitDelete, 0);
    // An empty number is 0, as for every number: here the safe reading.
    EXPECT_EQ(parse({"src", "dst", sw("limitdelete=")}), TreeToTree);
    EXPECT_EQ(runState.limitDelete, 0);
}

TEST_F(CommandLineDeathTest, EachArgumentErrorShowsItsMessageAndTheUsage) {
    const std::string sep(1, platform::kPathSeparator);
    std::string list = dir / "list.txt";
    writeFile(list, "");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "No source or target"},
        {{sw("v"), "a", "b"}, std::string("Ambiguous switch: ") + sw("v")},
        {{"a", "b", sw("bogus")}, std::string("Switch not found: ") + sw("bogus")},
        {{"a", "b", sw("verify=1")}, std::string("Switch not found: ") + sw("verify=1")},
        {{"a", "b", sw("delayopen=5ms")}, std::string("Invalid character in numberic argument: ") + sw("delayopen=5ms")},
        {{"a", "b", sw("delayopen=-5")}, std::string("Invalid character in numberic argument: ") + sw("delayopen=-5")},
        {{"a", "b", sw("bu=99999999999")}, std::string("Number too large in numeric argument: ") + sw("bu=99999999999")},
        {{"a", "b", sw("limitDelete=-1")}, std::string("Invalid character in numberic argument: ") + sw("limitDelete=-1")},
        {{"a", "b", sw("limitDelete=x")}, std::string("Invalid character in numberic argument: ") + sw("limitDelete=x")},
        {{"a", "b", sw("limitDelete")}, std::string("Switch not found: ") + sw("limitDelete")},
        {{"a", "b", sw("l=5")}, std::string("Switch not found: ") + sw("l=5")},
        {{"a", "b", "c", "d"}, "Too many arguments: d"},
        {{"a"}, "Target not specified"},
        {{"a", "b" + sep + "*.bak"},
         "Target must not contain wildcards: b" + separatorPattern() + "\\*\\.bak"},
        {{"a", "b?"}, "Target must not contain wildcards: b\\?"},
        {{"@" + list, "l", "x"}, "Extra argument: x"},
        {{"@" + dir.path()}, "No target "},
        {{"@" + dir.path(), "@t"}, "Invalid target: @t"},
        {{"@nosuch", "t"}, "Scriptfile or reference not found: nosuch"},
        {{"s", "@nosuch"}, "Reference not found: nosuch"},
    };
    for (const auto& [words, message] : cases) {
        EXPECT_STOP(parse(words), testing::ExitedWithCode(1),
                    "KAZ - message\nKAZ test\n\n" + message + ".*\n\n KAZ source target")
            << message;
    }
}

TEST_F(CommandLineDeathTest, MissingFilterListIsFatalWithoutTheUsage) {
    EXPECT_STOP(parse({"s", "t", sw("x=@") + dir / "missing"}), testing::ExitedWithCode(1),
                "KAZ - message\nExclude list not found: .*" + separatorPattern() + "missing\n$");
}

TEST_F(CommandLineDeathTest, TooManyArgumentsNamesTheFirstOneBeyondTheLimit) {
    std::vector<std::string> words = {"s", "t"};
    for (int i = 0; i < 100; ++i) words.push_back(sw("q"));
    words[99] = sw("the100th");
    EXPECT_STOP(parse(words), testing::ExitedWithCode(1), "Too many arguments: " + sw("the100th"));
}

TEST_F(CommandLineDeathTest, OverlongFilterInAListIsFatal) {
    std::string list = dir / "filters";
    writeFile(list, "ok " + std::string(4096, 'f') + " later");
    EXPECT_STOP(parse({"s", "t", sw("x=@") + list}), testing::ExitedWithCode(1),
                "Exclude filter too large.");
}

TEST(UsageText, ShowsSwitchesWithThePlatformPrefix) {
    std::string usage = usageText();
    std::string busyLine = "  " + sw("busywaittime=seconds ") + sw("delayopen=milliseconds");
    std::string quietLine = "   " + sw("quiet ") + sw("time ") + sw("trialrun ") + sw("verbose ") +
                            sw("verify\r\n");
    EXPECT_NE(usage.find(busyLine), std::string::npos);
    EXPECT_NE(usage.find(quietLine), std::string::npos);
    EXPECT_NE(usage.find("  " + sw("limitDelete=number")), std::string::npos);
    // The text holds no switch of the other platform's spelling.
    EXPECT_EQ(usage.find(platform::kSwitchPrefix == '-' ? '/' : '-'), std::string::npos);
}
