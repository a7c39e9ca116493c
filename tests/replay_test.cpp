// Replaying copy lists and logs of earlier runs end to end, and the closing
// report of runs without a log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

void makeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    size_t a = text.find(from);
    if (a == std::string::npos) return "";
    a += from.size();
    size_t b = text.find(to, a);
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

// Holds an exclusive lock on each file for as long as it lives, as a
// program working on them would.
class Locks {
public:
    explicit Locks(const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            int fd = ::open(path.c_str(), O_RDONLY);
            EXPECT_EQ(::flock(fd, LOCK_EX), 0) << path;
            fds_.push_back(fd);
        }
    }
    ~Locks() {
        for (int fd : fds_) ::close(fd);
    }
    Locks(const Locks&) = delete;
    Locks& operator=(const Locks&) = delete;

private:
    std::vector<int> fds_;
};

class ReplayTest : public testing::Test {
protected:
    void SetUp() override {
        makeFolder(source);
        makeFolder(target);
        writeFile(source + "/a.txt", "alpha\n");
        writeFile(source + "/b.txt", "beta\n");
        writeFile(source + "/my file.txt", "blanks\n");
    }
    RunResult replay(const std::string& content, std::vector<std::string> extra = {}) {
        writeFile(list, content);
        std::vector<std::string> args = {"@" + list, log, "-nowarn"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runKaz(args);
    }

    TempDir dir;
    std::string source = dir / "src";
    std::string target = dir / "dst";
    std::string list = dir / "list.txt";
    std::string log = dir / "replay.log";
};

}  // namespace

TEST_F(ReplayTest, PlainListWithEverySeparatorQuotesCommentsAndEmptyLines) {
    const std::string& s = source;
    const std::string& t = target;
    RunResult r = replay(s + "/a.txt " + t + "/blank\r\n" +            //
                         s + "/a.txt," + t + "/comma\n" +              //
                         s + "/a.txt\t" + t + "/tab\r\n" +             //
                         s + "/b.txt  ,\t  " + t + "/mixed\r\n" +      //
                         "\r\n" +                                      //
                         ": a comment, not a pair\r\n" +               //
                         "\"" + s + "/my file.txt\" \"" + t + "/my copy.txt\"\r\n" +
                         s + "/b.txt " + t + "/commented;old copy\r\n" +
                         "\"" + s + "/a.txt\" \"" + t + "/last\"");  // no line feed
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(t + "/blank"), "alpha\n");
    EXPECT_EQ(readFile(t + "/comma"), "alpha\n");
    EXPECT_EQ(readFile(t + "/tab"), "alpha\n");
    EXPECT_EQ(readFile(t + "/mixed"), "beta\n");
    EXPECT_EQ(readFile(t + "/my copy.txt"), "blanks\n");
    EXPECT_EQ(readFile(t + "/commented"), "beta\n");
    EXPECT_EQ(readFile(t + "/last"), "alpha\n");
    EXPECT_FALSE(fileExists(t + "/commented;old copy"));
    std::string text = readFile(log);
    // A replay writes no header; its statistics are the replay block.
    EXPECT_EQ(text.rfind(":-------- File Copy List --------\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"" + s + "/my file.txt\" \"" + t + "/my copy.txt\"\r\n"),
              std::string::npos);
    EXPECT_NE(text.find(": Total files copied:           7\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": MB/minute:                    "), std::string::npos);
    EXPECT_EQ(text.find("Total directories"), std::string::npos);
    EXPECT_NE(text.find(":None - Source and Target synchronized.\r\n"), std::string::npos);
}

TEST_F(ReplayTest, LineOfOnlyBlanksIsInvalidAfterTheEntriesBeforeIt) {
    RunResult r = replay(source + "/a.txt " + target + "/before\r\n   \r\n" + source + "/a.txt " +
                         target + "/after\r\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Invalid copy list file."), std::string::npos) << r.err;
    EXPECT_TRUE(fileExists(target + "/before"));
    EXPECT_FALSE(fileExists(target + "/after"));
    // An abandoned replay writes no end-of-run report.
    EXPECT_EQ(readFile(log).find(":COPY"), std::string::npos);
}

TEST_F(ReplayTest, LastLineWithoutLineFeedNeedsAQuotedSecondName) {
    RunResult r = replay(source + "/a.txt " + target + "/unended");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Invalid copy list file."), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(target + "/unended"));
}

TEST_F(ReplayTest, LineLongerThanTwoPathsIsDroppedAndTheRestCarriedOut) {
    // 2 x 4096 + 103 bytes, line end included, is the longest line.
    auto lineOf = [&](const std::string& name, size_t length) {
        std::string head = source + "/a.txt", tail = target + "/" + name + "\r\n";
        return head + std::string(length - head.size() - tail.size(), ' ') + tail;
    };
    RunResult r = replay(lineOf("longest", 8295) + lineOf("too-long", 8296) + source + "/b.txt " +
                         target + "/after\r\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(count(r.err, "Line too long in list file."), 1) << r.err;
    EXPECT_TRUE(fileExists(target + "/longest"));
    EXPECT_FALSE(fileExists(target + "/too-long"));
    EXPECT_EQ(readFile(target + "/after"), "beta\n");
}

TEST_F(ReplayTest, LogWithoutTheLabelCopiesNothing) {
    RunResult r = replay("goto COPY\r\n:-------- File Copy List --------\r\n" + source +
                         "/a.txt " + target + "/a.txt\r\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fileExists(target + "/a.txt"));
    std::string text = readFile(log);
    EXPECT_NE(text.find(": Total files copied:           0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":COPY\r\n"), std::string::npos);
}

TEST_F(ReplayTest, CommandWordsAreNeverTakenForFileNames) {
    // Read with the command word as a name, these lines would copy the files
    // COPY, MKDIR and Source of the working folder over the sources, or to
    // a file named "file".
    for (const char* word : {"COPY", "MKDIR", "Source"}) writeFile(dir / word, "stray\n");
    char* before = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    RunResult r = replay("COPY " + source + "/b.txt " + target + "/b.txt\r\n" +  //
                         "MKDIR " + source + "/a.txt\r\n" +                      //
                         "Source file " + source + "/gone dissappeared, nothing to copy\r\n");
    EXPECT_EQ(::chdir(before), 0);
    std::free(before);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(target + "/b.txt"), "beta\n");
    EXPECT_EQ(readFile(source + "/a.txt"), "alpha\n");
    EXPECT_EQ(readFile(source + "/b.txt"), "beta\n");
    EXPECT_FALSE(fileExists(dir / "file"));
    std::string text = readFile(log);
    EXPECT_EQ(text.find("Exception List"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files copied:           1\r\n"), std::string::npos) << text;
}

// A mirror whose log has MKDIR lines, copied files and one file left busy.
class LogReplayTest : public testing::Test {
protected:
    void SetUp() override {
        makeFolder(source);
        makeFolder(source + "/sub");
        writeFile(source + "/held", "in use\n");
        writeFile(source + "/free", "free\n");
        writeFile(source + "/sub/deep.txt", "deep\n");
        Locks lock({source + "/held"});
        RunResult r = runKaz({source, target, mirrorLog, "-nowarn", "-verbose"});
        ASSERT_EQ(r.exitCode, kRunIncomplete) << r.err;
        ASSERT_FALSE(fileExists(target + "/held"));
        std::string text = readFile(mirrorLog);
        ASSERT_NE(text.find("MKDIR "), std::string::npos) << text;
        ASSERT_NE(text.find("COPY " + source + "/held " + target + "/held\r\n"),
                  std::string::npos);
    }
    // The copy-list entries of a log, one pair a line.
    static std::string entries(const std::string& text, const char* head, const char* end) {
        return between(text, head, end);
    }

    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string mirrorLog = dir / "mirror.log";
    std::string log = dir / "replay.log";
};

TEST_F(LogReplayTest, ReplayCopiesExactlyTheRecopyList) {
    // A replay that took the file list as well would put this back.
    writeFile(target + "/free", "changed in the target\n");
    RunResult r = runKaz({"@" + mirrorLog, log, "-nowarn"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(target + "/held"), "in use\n");
    EXPECT_EQ(readFile(target + "/free"), "changed in the target\n");
    std::string text = readFile(log);
    EXPECT_EQ(entries(text, ":-------- File Copy List --------\r\n",
                      ":-------- End of File Copy List"),
              source + "/held " + target + "/held\r\n");
    EXPECT_NE(text.find(": Total files copied:           1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":None - Source and Target synchronized.\r\n"), std::string::npos);
}

TEST_F(LogReplayTest, VerifyReplayVerifiesExactlyTheCopiedFiles) {
    RunResult r = runKaz({"@" + mirrorLog, log, "-nowarn", "-verify"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string text = readFile(log);
    std::string verified = entries(text, ":-------- File Verify List --------\r\n",
                                   ":-------- End of File Verify List");
    EXPECT_EQ(count(verified, "\r\n"), 2) << verified;
    EXPECT_NE(verified.find(source + "/free " + target + "/free\r\n"), std::string::npos);
    EXPECT_NE(verified.find(source + "/sub/deep.txt " + target + "/sub/deep.txt\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Exception List"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files verified:         2\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files verified in error:0\r\n"), std::string::npos);
    EXPECT_NE(text.find(": Total bytes verified:         10\r\n"), std::string::npos);
    EXPECT_EQ(text.find(" copied:"), std::string::npos);
}

TEST_F(LogReplayTest, VerifyReplayFindsAChangedCopy) {
    writeFile(target + "/sub/deep.txt", "DEEP\n");
    RunResult r = runKaz({"@" + mirrorLog, log, "-nowarn", "-verify"});
    ASSERT_EQ(r.exitCode, kRunIncomplete) << r.err;
    std::string text = readFile(log);
    EXPECT_NE(text.find(": KAZ - No Error\r\n: " + source + "/sub/deep.txt " + target +
                        "/sub/deep.txt\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": Total files verified in error:1\r\n"), std::string::npos);
}

TEST_F(LogReplayTest, LogOfAReplayReplaysItsOwnRecopyList) {
    // The replay's own log has no "goto COPY": it is read as a plain list,
    // whose "COPY " lines still name the pair to copy.
    {
        Locks lock({source + "/held"});
        ASSERT_EQ(runKaz({"@" + mirrorLog, log, "-nowarn"}).exitCode, kRunIncomplete);
    }
    ASSERT_FALSE(fileExists(target + "/held"));
    RunResult r = runKaz({"@" + log, dir / "second.log", "-nowarn"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(target + "/held"), "in use\n");
    EXPECT_EQ(readFile(source + "/held"), "in use\n");
    EXPECT_EQ(readFile(dir / "second.log").find("Exception List"), std::string::npos);
}

namespace {

// Replays without a log and without -nowarn: the closing report is all
// the user gets.
class ClosingReportTest : public testing::Test {
protected:
    void SetUp() override { makeFolder(source); }
    RunResult replay(int missing, int busy, std::vector<std::string> extra = {}) {
        std::string text;
        for (int i = 0; i < missing; ++i) {
            text += dir / ("missing" + std::to_string(i)) + " " + dir / ("m" + std::to_string(i)) +
                    "\r\n";
        }
        std::vector<std::string> held;
        for (int i = 0; i < busy; ++i) {
            std::string name = source + "/busy" + std::to_string(i);
            writeFile(name, "busy\n");
            held.push_back(name);
            text += name + " " + dir / ("b" + std::to_string(i)) + "\r\n";
        }
        writeFile(list, text);
        Locks locks(held);
        std::vector<std::string> args = {"@" + list};
        args.insert(args.end(), extra.begin(), extra.end());
        return runKaz(args);
    }

    TempDir dir;
    std::string source = dir / "src";
    std::string list = dir / "list.txt";
};

}  // namespace

TEST_F(ClosingReportTest, CleanRunSaysSo) {
    writeFile(source + "/a", "a\n");
    writeFile(list, source + "/a " + dir / "a\r\n");
    RunResult r = runKaz({"@" + list});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "KAZ - message\nKAZ completed without error\n");
}

TEST_F(ClosingReportTest, EightExceptionsFitTheNinthPointsToTheLog) {
    RunResult eight = replay(8, 0);
    ASSERT_EQ(eight.exitCode, kRunIncomplete) << eight.err;
    EXPECT_EQ(eight.out.rfind("KAZ - message\n-------- Exception List --------\n", 0), 0u)
        << eight.out;
    EXPECT_EQ(count(eight.out, "KAZ - ERROR_FILE_NOT_FOUND(2)\n"), 8);
    EXPECT_NE(eight.out.find(dir / "missing7 " + dir / "m7\n"), std::string::npos);
    EXPECT_EQ(eight.out.find("more..."), std::string::npos);

    RunResult nine = replay(9, 0);
    ASSERT_EQ(nine.exitCode, kRunIncomplete) << nine.err;
    EXPECT_EQ(count(nine.out, "KAZ - ERROR_FILE_NOT_FOUND(2)\n"), 8) << nine.out;
    EXPECT_EQ(nine.out.find("missing8"), std::string::npos);
    EXPECT_NE(nine.out.find(dir / "m7\nmore... Suggest you use log file\n"), std::string::npos)
        << nine.out;
}

TEST_F(ClosingReportTest, BusyFilesFillWhatTheExceptionsLeft) {
    RunResult r = replay(3, 10);
    ASSERT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_EQ(count(r.out, "KAZ - ERROR_FILE_NOT_FOUND(2)\n"), 3) << r.out;
    EXPECT_NE(r.out.find(dir / "m2\n:-------- File Busy List --------\n32 - "
                               "ERROR_SHARING_VIOLATION\n" +
                         source + "/busy0 " + dir / "b0\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(count(r.out, "32 - ERROR_SHARING_VIOLATION\n"), 4);
    EXPECT_NE(r.out.find(dir / "b3\nmore... Suggest you use log file\n"), std::string::npos);
    EXPECT_EQ(r.out.find("busy4"), std::string::npos);
}

TEST_F(ClosingReportTest, NowarnOrALogKeepsItQuiet) {
    RunResult quiet = replay(2, 0, {"-nowarn"});
    ASSERT_EQ(quiet.exitCode, kRunIncomplete) << quiet.err;
    EXPECT_EQ(quiet.out, "");
    RunResult logged = replay(2, 0, {dir / "run.log"});
    ASSERT_EQ(logged.exitCode, kRunIncomplete) << logged.err;
    EXPECT_EQ(logged.out, "");
    EXPECT_NE(readFile(dir / "run.log").find(":-------- Exception List --------\r\n"),
              std::string::npos);
}
