// The kaz binary as a user meets it: messages, exit codes and the log file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

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
