// The kaz binary as a user meets it: messages, exit codes and the log file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

void expectUsageError(const std::vector<std::string>& args, const std::string& message) {
    RunResult r = runKaz(args);
    EXPECT_EQ(r.exitCode, 1) << message;
    EXPECT_NE(r.err.find("KAZ - message\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n" + message + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" KAZ source target [logfile][switches]\n"), std::string::npos);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_EQ(r.out, "");
}

}  // namespace

TEST(Cli, ArgumentErrorsShowTheMessageAndTheUsage) {
    expectUsageError({}, "No source or target");
    expectUsageError({"-v", "a", "b"}, "Ambiguous switch: -v");
    expectUsageError({"a", "b", "-delayopen=5ms"},
                     "Invalid character in numberic argument: -delayopen=5ms");
    expectUsageError({"a", "b", "c", "d"}, "Too many arguments: d");
    expectUsageError({"a", "b/*.bak"}, "Target must not contain wildcards: b/*.bak");
    expectUsageError({"@nosuch", "t"}, "Scriptfile or reference not found: nosuch");
}

TEST(Cli, UsageStartsWithTheCommandAsTyped) {
    RunResult r = runKaz({"a b", "c", "d", "e"});
    EXPECT_EQ(r.err.rfind("KAZ - message\nKAZ \"a b\" c d e\n", 0), 0u) << r.err;
}

TEST(Cli, HelpGoesToStandardOutputAndSucceeds) {
    for (const char* help : {"-help", "--help", "-h"}) {
        RunResult r = runKaz({help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_EQ(r.out.rfind(" KAZ source target [logfile][switches]\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("-x=filter or -exclude=filter"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Cli, DoubleDashHIsHelpLikeSingleDashH) {
    RunResult shortHelp = runKaz({"-h"});
    RunResult r = runKaz({"--h"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, shortHelp.out);
    EXPECT_EQ(r.out.rfind(" KAZ source target [logfile][switches]\n", 0), 0u) << r.out;
    // Help comes first, wherever it stands among other arguments.
    r = runKaz({"src", "--h", "dst"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, shortHelp.out);
}

// A filter, source or target holding a control character is refused before
// the log is touched: the old log stays, no new one and no target appear.
void expectRefusedUntouched(const std::vector<std::string>& args, const std::string& message,
                            const TempDir& dir) {
    RunResult r = runKaz(args);
    EXPECT_EQ(r.exitCode, 1) << message;
    EXPECT_EQ(r.err, "KAZ - message\n" + message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(dir / "run.log"), "an old log");
    EXPECT_FALSE(fileExists(dir / "run.log.~~~"));
    EXPECT_FALSE(fileExists(dir / "dst"));
}

TEST(Cli, AFilterHoldingAControlCharacterIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
    writeFile(dir / "src/a", "a");
    writeFile(dir / "secret", "secret");
    writeFile(dir / "run.log", "an old log");
    std::vector<std::string> run = {dir / "src", dir / "dst", dir / "run.log", "-nowarn"};
    // A line of the filter's making after the label would be carried out by
    // a later replay of the log.
    std::string injected = "zz\r\n:COPY\r\nCOPY " + (dir / "secret") + " " + (dir / "stolen") + "\r\n";
    for (const char* form : {"-x=", "-exclude=", "--x="}) {
        std::vector<std::string> args = run;
        args.push_back(form + injected);
        expectRefusedUntouched(args,
                               "Control character in exclude filter: zz^M^J:COPY^M^JCOPY " +
                                   (dir / "secret") + " " + (dir / "stolen") + "^M^J",
                               dir);
    }
    const std::pair<std::string, std::string> others[] = {
        {"a\x01" "b", "a^Ab"}, {"\x1b[2J*.tmp", "^[[2J*.tmp"}, {"x\x7f", "x^?"},
        {"*.tmp\t" "b", "*.tmp^Ib"}, {"\x1f", "^_"}};
    for (const auto& [filter, shown] : others) {
        std::vector<std::string> args = run;
        args.push_back("-x=" + filter);
        expectRefusedUntouched(args, "Control character in exclude filter: " + shown, dir);
    }
    EXPECT_FALSE(fileExists(dir / "stolen"));
    // Bytes above 0x7F are name bytes like any other.
    std::vector<std::string> args = run;
    args.push_back("-x=caf\xc3\xa9*");
    EXPECT_EQ(runKaz(args).exitCode, 0);
    EXPECT_EQ(readFile(dir / "dst/a"), "a");
}

TEST(Cli, AFilterListWordHoldingAControlCharacterIsRefused) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
    writeFile(dir / "run.log", "an old log");
    std::vector<std::string> run = {dir / "src", dir / "dst", dir / "run.log", "-nowarn"};
    const std::pair<std::string, std::string> lists[] = {
        {"*.bak  ok\x1b]0;x\x07" "bad\n~*\n", "ok^[]0;x^Gbad"},
        {std::string("*.bak\nsec\0ret.txt\n", 18), "sec^@ret.txt"},
        {"*.tmp\r\nend\x7f", "end^?"}};
    for (const auto& [list, shown] : lists) {
        writeFile(dir / "list", list);
        std::vector<std::string> args = run;
        args.push_back("-x=@" + (dir / "list"));
        expectRefusedUntouched(args, "Control character in exclude list " + (dir / "list") + ": " + shown,
                               dir);
    }
    // Blanks, tabs and line ends only part the words.
    writeFile(dir / "list", "*.bak\t*.tmp\r\n\v\f~*\n");
    std::vector<std::string> args = run;
    args.push_back("-x=@" + (dir / "list"));
    RunResult r = runKaz(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(readFile(dir / "run.log").find("Exclude filters: *.bak *.tmp ~* \r\n"), std::string::npos)
        << readFile(dir / "run.log");
}

TEST(Cli, ASourceOrTargetHoldingAControlCharacterIsRefused) {
    TempDir dir;
    // The folders exist: only their names stand in the way.
    std::string source = dir / "src\r\n:COPY";
    ASSERT_EQ(mkdir(source.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
    writeFile(dir / "run.log", "an old log");
    expectRefusedUntouched({source, dir / "dst", dir / "run.log", "-nowarn"},
                           "Control character in source: " + (dir / "src^M^J:COPY"), dir);
    std::string target = dir / "dst\nx";
    expectRefusedUntouched({dir / "src", target, dir / "run.log", "-nowarn"},
                           "Control character in target: " + (dir / "dst^Jx"), dir);
    EXPECT_FALSE(fileExists(target));
    expectRefusedUntouched({"@" + source, dir / "dst", dir / "run.log", "-nowarn"},
                           "Control character in source: @" + (dir / "src^M^J:COPY"), dir);
}

TEST(Cli, LogReplacesTheOldOneAndEndsUnderItsName) {
    TempDir dir;
    std::string log = dir / "run.log";
    writeFile(log, "an old log");
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
    RunResult r = runKaz({dir / "src", dir / "dst", log, "-nowarn"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fileExists(log));
    EXPECT_FALSE(fileExists(log + ".~~~"));
    EXPECT_EQ(readFile(log).rfind("goto COPY\r\n", 0), 0u);
}

TEST(Cli, LogInAMissingFolderStopsTheRun) {
    TempDir dir;
    RunResult r = runKaz({dir / "src", dir / "dst", dir / "missing/run.log"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "KAZ - message\nKAZ - Unable to create log file\n");
}
