// Trees built to break a mirror: awkward names, extreme depth and length,
// links that lead away, special files, files that change while they are
// copied and two runs into one target. Each case is checked on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/arguments.h"
#include "platform/fault_injection.h"
#include "test_support.h"

namespace {

namespace faults = platform::faults;
using faults::Call;
using faults::Fault;

std::string shellQuoted(const std::string& path) {
    std::string text = "'";
    for (char c : path) {
        if (c == '\'') {
            text += "'\\''";
        } else {
            text += c;
        }
    }
    return text + "'";
}

void makeFolder(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path; }

void expectIdentical(const std::string& source, const std::string& target) {
    int status = -1;
    std::string diff =
        shell("diff -r --no-dereference " + shellQuoted(source) + " " + shellQuoted(target), &status);
    EXPECT_EQ(status, 0) << diff;
    std::string rsync = shell("rsync -a --delete --dry-run --itemize-changes " +
                              shellQuoted(source + "/") + " " + shellQuoted(target + "/"));
    EXPECT_EQ(rsync, "") << rsync;
}

// The same, folder times aside: a replay and the retry pass copy files only
// and leave the times of the folders they write into to the next walk.
void expectSameFiles(const std::string& source, const std::string& target) {
    int status = -1;
    std::string diff =
        shell("diff -r --no-dereference " + shellQuoted(source) + " " + shellQuoted(target), &status);
    EXPECT_EQ(status, 0) << diff;
    std::string rsync = shell("rsync -a --omit-dir-times --delete --dry-run --itemize-changes " +
                              shellQuoted(source + "/") + " " + shellQuoted(target + "/"));
    EXPECT_EQ(rsync, "") << rsync;
}

// Every entry below a folder with its kind, size, time and link text: what
// "untouched" means for a folder that a run must not reach.
std::string snapshot(const std::string& root) {
    return shell("find " + shellQuoted(root) + " -printf '%p %y %s %T@ %C@ %m %l\\n' | sort");
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    size_t a = text.find(from);
    if (a == std::string::npos) return "";
    size_t b = text.find(to, a + from.size());
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Runs kaz, killing it if it has not ended after `seconds`.
RunResult runWithin(const std::vector<std::string>& arguments, int seconds) {
    KazProcess kaz(arguments);
    return waitWithin(kaz, seconds);
}

// Holds exclusive locks on files, as a program that works on them does.
class Locks {
public:
    void hold(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0) << path;
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        fds_.push_back(fd);
    }
    void release() {
        for (int fd : fds_) ::close(fd);
        fds_.clear();
    }
    ~Locks() { release(); }

private:
    std::vector<int> fds_;
};

class HostileTest : public testing::Test {
protected:
    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string log = dir / "run.log";

    RunResult mirror(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {source, target, log, "-nowarn"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runWithin(args, 120);
    }
    RunResult replay(const std::string& script, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"@" + script, dir / "replay.log", "-nowarn"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runWithin(args, 120);
    }
};

// Names that a copy list must quote, and names that lead with characters a
// command line or a list could read as something else.
const std::vector<std::string> kAwkwardNames = {
    "name with blanks.txt", "comma,name", "semi;colon", "equals=sign", "plus+sign",
    "[brackets]", "tab\tname", "-leading-dash", "@leading-at", ":leading-colon",
    "inner\"quote", "trailing blank ", "caf\xe9 \xff\xfe bytes", std::string(255, 'n'),
    std::string(254, 'b') + " "};

}  // namespace

// ---- Names ----

TEST_F(HostileTest, AwkwardNamesMirrorAndTheirLogLinesReplayOntoTheRightPairs) {
    makeFolder(source);
    makeFolder(source + "/sub folder,[x]");
    for (const std::string& name : kAwkwardNames) {
        writeFile(source + "/" + name, "content of " + name);
        writeFile(source + "/sub folder,[x]/" + name, "inner " + name);
    }
    // Locked now, so that every file ends in the recopy list of the log.
    Locks locks;
    for (const std::string& name : kAwkwardNames) locks.hold(source + "/" + name);
    RunResult first = mirror({"-busywaittime=0"});
    ASSERT_EQ(first.exitCode, kRunIncomplete) << first.err;
    std::string recopy = between(readFile(log), ":-------- File Recopy List", ":-------- End");
    EXPECT_EQ(occurrences(recopy, "\r\nCOPY "), kAwkwardNames.size()) << recopy;
    for (const std::string& name : kAwkwardNames) EXPECT_FALSE(fileExists(target + "/" + name));

    locks.release();
    RunResult again = replay(log);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err.find("Invalid copy list file."), std::string::npos) << again.err;
    expectSameFiles(source, target);

    // The file list read back with verify finds each pair, and exactly the
    // one file spoilt behind the run's back.
    shell("rm -rf " + shellQuoted(target));
    ASSERT_EQ(mirror().exitCode, kRunIncomplete);
    std::string spoilt = target + "/sub folder,[x]/" + kAwkwardNames[4];
    writeFile(spoilt, "INNER " + kAwkwardNames[4]);
    // A quote inside a name that must be quoted cannot be read back: that
    // pair is a comment in the log, and the replay passes over it.
    std::string unfit = source + "/sub folder,[x]/inner\"quote";
    EXPECT_NE(readFile(log).find(": KAZ - Left out of the list, a name holds a quote or a line "
                                 "break: \"" + unfit + "\""),
              std::string::npos)
        << readFile(log);
    RunResult verify = replay(log, {"-verify"});
    ASSERT_EQ(verify.exitCode, kRunIncomplete) << verify.err;
    std::string text = readFile(dir / "replay.log");
    size_t files = 2 * kAwkwardNames.size();
    EXPECT_NE(text.find(": Total files verified:         " + std::to_string(files - 2) + "\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": Total files verified in error:1\r\n"), std::string::npos) << text;
    std::string exceptions = between(text, ":-------- Exception List", ":-------- End");
    EXPECT_NE(exceptions.find(": \"" + source + "/sub folder,[x]/plus+sign\" \"" + spoilt + "\"\r\n"),
              std::string::npos)
        << exceptions;
    EXPECT_EQ(exceptions.find(unfit), std::string::npos) << exceptions;
}

// A double quote where quotes delimit a name, a line feed or a carriage
// return cannot be carried by a list line. Such a pair is logged as a
// comment and listed as an exception; no replay acts on it, and above all
// none acts on a pair cut out of it wrongly.
TEST_F(HostileTest, NamesThatNoListLineCanHoldAreNeverReplayedOntoAWrongPair) {
    const std::vector<std::string> unfit = {"line\nfeed", "carriage\rreturn", "a \"quoted\" name",
                                            "\"leading quote", "both\r\nbreaks"};
    makeFolder(source);
    for (const std::string& name : unfit) writeFile(source + "/" + name, "unfit " + name);
    // Where a wrong cut would land: "carriage" is what the second name of
    // the carriage-return pair ends at.
    writeFile(source + "/carriage", "decoy\n");
    writeFile(source + "/ordinary", "ordinary\n");

    RunResult first = mirror();
    ASSERT_EQ(first.exitCode, kRunIncomplete) << first.err;
    expectIdentical(source, target);
    std::string text = readFile(log);
    EXPECT_EQ(occurrences(text, ": KAZ - Left out of the list, a name holds a quote or a line "
                                "break: "),
              unfit.size())
        << text;
    EXPECT_NE(text.find(": KAZ - Left out of the list, a name holds a quote or a line break: " +
                        source + "/line?feed " + target + "/line?feed\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(occurrences(text, ": KAZ - ERROR_INVALID_NAME(123)\r\n"), unfit.size()) << text;
    EXPECT_NE(text.find(source + "/ordinary " + target + "/ordinary\r\n"), std::string::npos);
    EXPECT_NE(text.find(": Total files copied:           7\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files copied in error:  0\r\n"), std::string::npos) << text;
    // Every line ends in a carriage return and a line feed, and a line that
    // is not a comment names only the ordinary files.
    std::string list = between(text, ":-------- File Copy List", ":COPY\r\n");
    size_t start = 0;
    for (size_t end = list.find('\n'); end != std::string::npos;
         start = end + 1, end = list.find('\n', start)) {
        std::string line = list.substr(start, end - start);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r') << line;
        if (line[0] != ':' && line.find(source) != std::string::npos) {
            EXPECT_TRUE(line.find("/ordinary") != std::string::npos ||
                        line.find("/carriage ") != std::string::npos)
                << line;
        }
    }

    // Replayed with verify, the log verifies the two fit pairs and nothing
    // else; a spoilt decoy would show if a wrong pair were compared.
    RunResult verify = replay(log, {"-verify"});
    ASSERT_EQ(verify.exitCode, 0) << verify.err;
    std::string replayed = readFile(dir / "replay.log");
    EXPECT_NE(replayed.find(": Total files verified:         2\r\n"), std::string::npos)
        << replayed;
    EXPECT_NE(replayed.find(": Total files verified in error:0\r\n"), std::string::npos)
        << replayed;

    // In the recopy list the same: the replay copies the fit pair and leaves
    // the decoy's copy as it is.
    shell("rm -rf " + shellQuoted(target));
    Locks locks;
    for (const std::string& name : unfit) locks.hold(source + "/" + name);
    locks.hold(source + "/ordinary");
    ASSERT_EQ(mirror({"-busywaittime=0"}).exitCode, kRunIncomplete);
    locks.release();
    std::string recopy = between(readFile(log), ":-------- File Recopy List", ":-------- End");
    EXPECT_EQ(occurrences(recopy, "\r\nCOPY "), 1u) << recopy;
    EXPECT_EQ(occurrences(recopy, ": KAZ - Left out of the list"), unfit.size()) << recopy;
    writeFile(target + "/carriage", "target decoy\n");
    RunResult again = replay(log);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(readFile(target + "/ordinary"), "ordinary\n");
    EXPECT_EQ(readFile(target + "/carriage"), "target decoy\n");
    for (const std::string& name : unfit) EXPECT_FALSE(fileExists(target + "/" + name)) << name;
}

// A trial run's log is a plain list: a line break in a name of one of its
// removal lines must not start a line of its own, which a replay would read
// as a pair of names relative to where it runs.
// The walk appends "*.*" to a folder to list it; a folder may hold the same
// three characters in its own name.
TEST_F(HostileTest, FoldersNamedLikeTheListingPatternAreMirroredAndVerified) {
    makeFolder(source);
    for (const char* folder : {"/*.*", "/*.*/in", "/a*.*b", "/x*.*"}) makeFolder(source + folder);
    writeFile(source + "/*.*/f", "one\n");
    writeFile(source + "/*.*/in/g", "two\n");
    writeFile(source + "/*.*/*.*", "a file named like the pattern\n");
    writeFile(source + "/a*.*b/h", "three\n");
    writeFile(source + "/x*.*/i", "four\n");
    makeFolder(target);
    makeFolder(target + "/a*.*b");
    writeFile(target + "/a*.*b/stale", "stale\n");

    RunResult trial = mirror({"-trialrun"});
    ASSERT_EQ(trial.exitCode, 0) << trial.err;
    EXPECT_NE(readFile(log).find(": Total files to be copied:           5\r\n"), std::string::npos)
        << readFile(log);
    RunResult r = mirror();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(source, target);
    RunResult verify = mirror({"-verify"});
    ASSERT_EQ(verify.exitCode, 0) << verify.err;
    std::string text = readFile(log);
    for (const char* file : {"/*.*/f", "/*.*/in/g", "/*.*/*.*", "/a*.*b/h", "/x*.*/i"})
        EXPECT_NE(text.find(source + file + " " + target + file + "\r\n"), std::string::npos)
            << file << "\n" << text;
    writeFile(target + "/a*.*b/h", "THREE\n");
    EXPECT_EQ(mirror({"-verify"}).exitCode, kRunIncomplete);
}

// The message names why the target folder could not be made, not merely
// that it was missing.
TEST_F(HostileTest, TargetRootThatCannotBeMadeSaysWhy) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run kaz as another user";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    makeFolder(source);
    writeFile(source + "/f", "x\n");
    std::string rootOnly = dir / "root-only";
    makeFolder(rootOnly);
    KazProcess kaz({source, rootOnly + "/target", "-nowarn"}, 65534);
    RunResult r = kaz.wait();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Error in destination path ("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Code=5 - ERROR_ACCESS_DENIED"), std::string::npos) << r.err;
}

// The log may lie anywhere, the trees included: the run never copies,
// verifies or removes its own log.
TEST_F(HostileTest, RunLogInsideEitherTreeIsLeftToTheRun) {
    makeFolder(source);
    makeFolder(source + "/sub");
    writeFile(source + "/sub/f", "f\n");
    makeFolder(target);
    RunResult inTarget = runWithin({source, target, target + "/run.log", "-nowarn"}, 120);
    ASSERT_EQ(inTarget.exitCode, 0) << inTarget.err;
    std::string text = readFile(target + "/run.log");
    EXPECT_NE(text.find(":None - Source and Target synchronized."), std::string::npos) << text;
    EXPECT_EQ(text.find("run.log"), std::string::npos) << text;
    EXPECT_FALSE(fileExists(target + "/run.log.~~~"));

    std::string inSource = source + "/sub/run.log";
    RunResult fromSource = runWithin({source, target, inSource, "-nowarn"}, 120);
    ASSERT_EQ(fromSource.exitCode, 0) << fromSource.err;
    EXPECT_TRUE(fileExists(inSource));
    EXPECT_FALSE(fileExists(target + "/sub/run.log.~~~"));
    EXPECT_FALSE(fileExists(target + "/sub/run.log"));
    RunResult verify = runWithin({source, target, inSource, "-nowarn", "-verify"}, 120);
    EXPECT_EQ(verify.exitCode, 0) << readFile(inSource);
    ::unlink(inSource.c_str());

    // In a folder the source lacks: the folder stays for the log's sake, and
    // the run says that it could not be removed.
    makeFolder(target + "/gone");
    writeFile(target + "/gone/old", "old\n");
    RunResult inGone = runWithin({source, target, target + "/gone/run.log", "-nowarn"}, 120);
    EXPECT_EQ(inGone.exitCode, kRunIncomplete) << inGone.err;
    EXPECT_FALSE(fileExists(target + "/gone/old"));
    text = readFile(target + "/gone/run.log");
    EXPECT_NE(text.find(": KAZ - Error deleting directory " + target + "/gone"), std::string::npos)
        << text;
}

// The names beginning ".~kaz~" in a folder: a replacement under way.
std::vector<std::string> replacementsIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(".~kaz~", 0) == 0) names.push_back(name);
    }
    return names;
}

// Stopped while it replaces a changed file, by SIGTERM or by SIGKILL, a run
// leaves the old copy or the new complete one under the target's name, never
// a part of one; the next run finishes the job and clears what was left.
TEST_F(HostileTest, StoppedWhileReplacingLeavesTheOldCopyOrTheNewOne) {
    const std::string oldContent(4 << 20, 'o'), newContent((4 << 20) + 1, 'n');
    for (int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        shell("rm -rf " + shellQuoted(source) + " " + shellQuoted(target));
        makeFolder(source);
        writeFile(source + "/big", oldContent);
        ASSERT_EQ(mirror().exitCode, 0);
        writeFile(source + "/big", newContent);

        KazProcess kaz({source, target, log, "-nowarn", "-delaytarget=20"});
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (replacementsIn(target).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_FALSE(replacementsIn(target).empty()) << "the replacement never started";
        kaz.signal(signal);
        RunResult stopped = kaz.wait();
        EXPECT_NE(stopped.exitCode, 0);
        std::string content = readFile(target + "/big");
        EXPECT_TRUE(content == oldContent || content == newContent) << content.size();
        if (signal == SIGTERM) {
            EXPECT_EQ(stopped.exitCode, 1);
            EXPECT_TRUE(replacementsIn(target).empty());
        }

        RunResult next = mirror();
        ASSERT_EQ(next.exitCode, 0) << next.err;
        EXPECT_EQ(readFile(target + "/big"), newContent);
        EXPECT_TRUE(replacementsIn(target).empty());
        EXPECT_EQ(readFile(log).find(".~kaz~"), std::string::npos);
    }
}

TEST_F(HostileTest, TrialRunLogStaysAListWhenAStaleNameHoldsALineBreak) {
    makeFolder(source);
    writeFile(source + "/keep", "keep\n");
    makeFolder(target);
    writeFile(target + "/stale\nvictim written", "stale\n");
    writeFile(dir / "victim", "victim\n");
    makeFolder(target + "/old\rfolder");
    writeFile(target + "/old\rfolder/inner", "x");

    RunResult trial = mirror({"-trialRun"});
    ASSERT_EQ(trial.exitCode, 0) << trial.err;
    std::string text = readFile(log);
    EXPECT_NE(text.find("DEL \"" + target + "/stale?victim written\"\r\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("RMDIR " + target + "/old?folder\r\n"), std::string::npos) << text;

    int status = -1;
    std::string output = shell("cd " + shellQuoted(dir.path()) + " && " KAZ_BINARY
                               " @run.log replay.log -nowarn </dev/null",
                               &status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_FALSE(fileExists(dir / "written"));
    EXPECT_EQ(readFile(dir / "victim"), "victim\n");
    EXPECT_EQ(readFile(target + "/keep"), "keep\n");
    EXPECT_EQ(readFile(target + "/stale\nvictim written"), "stale\n");
}

// ---- Lengths and depth ----

TEST_F(HostileTest, LongestNamesAndPathsNearTheLimit) {
    makeFolder(source);
    // Folders of 200 bytes down to a file whose path has 4095 bytes.
    std::string folder = source;
    while (4095 - folder.size() - 1 > 255) {
        size_t excess = 4095 - folder.size() - 1 - 255;
        folder += "/" + std::string(std::min<size_t>(200, excess), 'f');
        makeFolder(folder);
    }
    std::string deepest = folder + "/" + std::string(4095 - folder.size() - 1, 'x');
    ASSERT_EQ(deepest.size(), 4095u);
    ASSERT_LE(4095 - folder.size() - 1, 255u);
    writeFile(deepest, "at the limit\n");
    writeFile(source + "/" + std::string(255, 'n'), "longest name\n");

    RunResult r = mirror();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(source, target);
    EXPECT_EQ(readFile(target + deepest.substr(source.size())), "at the limit\n");
    // The whole log reads back: its file list verifies every pair.
    RunResult verify = replay(log, {"-verify"});
    ASSERT_EQ(verify.exitCode, 0) << verify.err;
    EXPECT_EQ(verify.err.find("Line too long"), std::string::npos) << verify.err;
    EXPECT_NE(readFile(dir / "replay.log").find(": Total files verified:         2\r\n"),
              std::string::npos);

    // A longer target root pushes the deepest path past the limit. Below the
    // root every call works from an open folder, so only the names count: the
    // file is mirrored all the same, and its pair is in the log.
    std::string longer = dir / "target-with-a-longer-name";
    RunResult over = runWithin({source, longer, log, "-nowarn"}, 120);
    ASSERT_EQ(over.exitCode, 0) << over.err;
    std::string text = readFile(log);
    EXPECT_NE(text.find(": Total files copied:           2\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" " + longer + deepest.substr(source.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(shell("find " + shellQuoted(longer) + " -type f -size 13c | wc -l"), "2\n");
    EXPECT_EQ(readFile(longer + "/" + std::string(255, 'n')), "longest name\n");
}

TEST_F(HostileTest, SourceFolderBeyondThePathLimitIsAnExceptionAndTheRestIsMirrored) {
    makeFolder(source);
    writeFile(source + "/top", "top\n");
    // Built relative to open folders: no path of it fits one call.
    int fd = ::open(source.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 20; ++i) {
        std::string name(250, static_cast<char>('a' + i));
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    int file = ::openat(fd, "unreachable", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(fd);

    // A source folder whose path grew too long to be listed is an exception
    // of its own: the rest is mirrored, the log says which folder was left
    // out, and the exit status that something was not done.
    RunResult r = mirror();
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    std::string text = readFile(log);
    EXPECT_NE(text.find(": KAZ - Error listing source folder  ERROR_FILENAME_EXCED_RANGE(206)"),
              std::string::npos)
        << text;
    EXPECT_EQ(readFile(target + "/top"), "top\n");
    EXPECT_TRUE(fileExists(log));
    EXPECT_FALSE(fileExists(log + ".~~~"));
    shell("rm -rf " + shellQuoted(source));  // the fixture's clean-up stops at the limit
}

TEST_F(HostileTest, TreeAThousandFoldersDeepIsCopiedAndRemoved) {
    std::string folder = source;
    makeFolder(folder);
    for (int i = 0; i < 1000; ++i) {
        folder += "/d";
        makeFolder(folder);
    }
    writeFile(folder + "/leaf", "deep\n");
    RunResult r = mirror();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(source, target);
    EXPECT_NE(readFile(log).find(": Total directories created:    1001\r\n"), std::string::npos);

    // Gone from the source, the whole chain goes from the target.
    shell("rm -rf " + shellQuoted(source + "/d"));
    RunResult again = mirror();
    ASSERT_EQ(again.exitCode, 0) << again.err;
    expectIdentical(source, target);
    EXPECT_NE(readFile(log).find(": Total directories deleted:    1000\r\n"), std::string::npos)
        << readFile(log);
}

// ---- Links ----

TEST_F(HostileTest, LinkLoopsAndLinksLeadingOutAreCopiedAsLinksAndNeverFollowed) {
    std::string outside = dir / "outside";
    makeFolder(outside);
    makeFolder(outside + "/folder");
    writeFile(outside + "/folder/precious", "keep me\n");
    writeFile(outside + "/file", "outside file\n");

    makeFolder(source);
    makeFolder(source + "/real");
    writeFile(source + "/real/data", "data\n");
    writeFile(source + "/precious", "source version\n");
    ASSERT_EQ(::symlink("loop-b", (source + "/loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", (source + "/loop-b").c_str()), 0);
    ASSERT_EQ(::symlink("self", (source + "/self").c_str()), 0);
    ASSERT_EQ(::symlink("..", (source + "/real/up").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (source + "/out-folder").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/file").c_str(), (source + "/out-file").c_str()), 0);

    // The target has links where the source has a folder and a file: written
    // through, they would fill or overwrite the outside.
    makeFolder(target);
    ASSERT_EQ(::symlink((outside + "/folder").c_str(), (target + "/real").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/folder/precious").c_str(), (target + "/precious").c_str()),
              0);
    ASSERT_EQ(::symlink(outside.c_str(), (target + "/stale-link").c_str()), 0);
    std::string before = snapshot(outside);

    RunResult r = mirror();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(source, target);
    EXPECT_EQ(snapshot(outside), before);
    struct stat info;
    ASSERT_EQ(::lstat((target + "/real").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    ASSERT_EQ(::lstat((target + "/out-folder").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));

    // Removed from the source, the links go from the target as links.
    for (const char* name : {"/out-folder", "/out-file", "/loop-a", "/self", "/real/up"})
        ASSERT_EQ(::unlink((source + name).c_str()), 0);
    RunResult again = mirror();
    ASSERT_EQ(again.exitCode, 0) << again.err;
    expectIdentical(source, target);
    EXPECT_EQ(snapshot(outside), before);
}

// ---- Special files ----

TEST_F(HostileTest, FifoSocketAndDeviceAreNeverOpenedAndListedAsExceptions) {
    makeFolder(source);
    writeFile(source + "/plain", "plain\n");
    ASSERT_EQ(::mkfifo((source + "/fifo").c_str(), 0644), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = source + "/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    bool device = ::mknod((source + "/device").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    // In the target, a FIFO stands where the source has a file, and one the
    // source lacks: opened for writing, either would block the run.
    makeFolder(target);
    ASSERT_EQ(::mkfifo((target + "/plain").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((target + "/stale-fifo").c_str(), 0644), 0);

    RunResult r = mirror();
    ::close(sock);
    ASSERT_EQ(r.exitCode, kRunIncomplete) << r.err;
    std::string text = readFile(log);
    std::string exceptions = between(text, ":-------- Exception List", ":-------- End");
    size_t specials = device ? 3 : 2;
    EXPECT_EQ(occurrences(exceptions, ": KAZ - ERROR_NOT_SUPPORTED(50)\r\n"), specials) << text;
    for (const char* name : {"/fifo", "/socket", "/device"}) {
        if (std::string(name) == "/device" && !device) continue;
        EXPECT_NE(exceptions.find(": " + source + name + " " + target + name + "\r\n"),
                  std::string::npos)
            << name;
        EXPECT_FALSE(fileExists(target + name)) << name;
    }
    EXPECT_EQ(readFile(target + "/plain"), "plain\n");
    EXPECT_FALSE(fileExists(target + "/stale-fifo"));
    std::string rsync = shell("rsync -a --specials --devices --delete --dry-run "
                              "--out-format='%n' " +
                              shellQuoted(source + "/") + " " + shellQuoted(target + "/") + " | sort");
    EXPECT_EQ(rsync, device ? "device\nfifo\nsocket\n" : "fifo\nsocket\n");
}

// ---- Change during a copy ----

// Another program that writes to a file while kaz moves the file's third
// block (by the kernel's copy offload or by a read, whichever the copy
// uses), during each of the file's first `times` copies.
class ChangeDuringCopy {
public:
    ChangeDuringCopy(const std::string& name, int times, std::function<void(int)> change)
        : times_(times), change_(std::move(change)) {
        // The source's open starts a copy; the target's, which follows it,
        // comes before the first block.
        faults::arm(
            Fault(Call::CreateFile, 0).onPath(name).always().then([this] { blocks_ = 0; }));
        for (Call moving : {Call::CopyFileRange, Call::ReadFile})
            faults::arm(Fault(moving, 0).onPath(name).always().then([this] { onBlock(); }));
    }
    ChangeDuringCopy(const ChangeDuringCopy&) = delete;
    ChangeDuringCopy& operator=(const ChangeDuringCopy&) = delete;
    int made() const { return made_; }

private:
    void onBlock() {
        if (++blocks_ != 3 || made_ == times_) return;
        change_(made_);
        ++made_;
    }
    int times_;
    std::function<void(int)> change_;
    int blocks_ = 0;
    int made_ = 0;
};

// A source that grows, or is rewritten in place, while it is copied is never
// left behind as a torn copy: the retry pass copies it once it has settled.
// The run goes on in this process, where the writes can fall inside copies.
TEST_F(HostileTest, FileChangedDuringItsCopyIsCopiedAgainOnceSettled) {
    makeFolder(source);
    std::string growing = source + "/growing";
    std::string rewritten = source + "/rewritten";
    writeFile(growing, std::string(6 * 131072, 'g'));
    writeFile(rewritten, std::string(6 * 131072, 'r'));
    // Older than any write made now, so that a rewrite of the same size
    // shows in the file's time.
    for (const std::string& file : {growing, rewritten}) {
        timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    }
    faults::Scope disarm;
    ChangeDuringCopy appends("/growing", 2, [&](int) {
        int fd = ::open(growing.c_str(), O_WRONLY | O_APPEND);
        EXPECT_EQ(::write(fd, "+", 1), 1);
        ::close(fd);
    });
    // Into the first block, which the copy has moved already.
    ChangeDuringCopy rewrites("/rewritten", 2, [&](int i) {
        int fd = ::open(rewritten.c_str(), O_WRONLY);
        char mark = static_cast<char>('A' + i);
        EXPECT_EQ(::pwrite(fd, &mark, 1, i), 1);
        ::close(fd);
    });
    InProcessRun run;
    int exitCode = run({source, target, log, "-nowarn", "-busywaittime=20"});
    platform::setProcessArguments(0, nullptr);
    resetRunState();
    EXPECT_EQ(appends.made(), 2);
    EXPECT_EQ(rewrites.made(), 2);
    ASSERT_EQ(exitCode, 0);
    std::string text = readFile(log);
    EXPECT_NE(text.find(":None - Source and Target synchronized."), std::string::npos) << text;
    EXPECT_EQ(occurrences(text, " " + target + "/growing\r\n"), 1u) << text;
    EXPECT_TRUE(readFile(target + "/growing") == std::string(6 * 131072, 'g') + "++");
    EXPECT_TRUE(readFile(target + "/rewritten") == "AB" + std::string(6 * 131072 - 2, 'r'));
    expectSameFiles(source, target);
    // Each counted once: the copies that went stale were not counted.
    EXPECT_NE(text.find(": Total files copied:           2\r\n"), std::string::npos) << text;
}

// ---- Two runs at once ----

TEST_F(HostileTest, TwoRunsIntoOneTargetCorruptNothing) {
    makeFolder(source);
    for (int i = 0; i < 6; ++i) {
        std::string content(3 * 131072 + i, static_cast<char>('a' + i));
        writeFile(source + "/file" + std::to_string(i), content);
    }
    makeFolder(target);
    std::string log2 = dir / "second.log";
    KazProcess one({source, target, log, "-nowarn", "-delaytarget=30", "-busywaittime=5"});
    KazProcess two({source, target, log2, "-nowarn", "-delaytarget=30", "-busywaittime=5"});
    RunResult a = one.wait();
    RunResult b = two.wait();
    // Whichever run met the other's open files did not do all it was asked.
    for (const RunResult* r : {&a, &b})
        EXPECT_TRUE(r->exitCode == 0 || r->exitCode == kRunIncomplete) << r->exitCode << r->err;
    std::string first = readFile(log), second = readFile(log2);
    // Each log accounts for every file: copied, or refused because the other
    // run held the target open, and then listed as an exception.
    for (const std::string* text : {&first, &second}) {
        EXPECT_NE(text->find(":COPY\r\n"), std::string::npos) << *text;
        std::string exceptions = between(*text, ":-------- Exception List", ":-------- End");
        for (int i = 0; i < 6; ++i) {
            std::string name = "/file" + std::to_string(i);
            std::string pair = source + name + " " + target + name + "\r\n";
            bool copied = text->find("\n" + pair) != std::string::npos;
            bool refused = exceptions.find(": " + pair) != std::string::npos;
            EXPECT_TRUE(copied || refused) << name << "\n" << *text;
        }
    }
    // Every file in the target is a whole copy; a third run finds the rest.
    for (int i = 0; i < 6; ++i) {
        std::string name = "/file" + std::to_string(i);
        if (fileExists(target + name)) {
            EXPECT_EQ(readFile(target + name), readFile(source + name)) << name;
        }
    }
    RunResult third = mirror();
    ASSERT_EQ(third.exitCode, 0) << third.err;
    expectIdentical(source, target);
}
