// The kaz binary as a user meets it: messages, exit codes and the log file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
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

// kaz at the process limit of its user, so that its worker thread cannot
// start: as an unprivileged user (root is not held to the limit) with a
// limit of one process, kaz itself. Standard output goes to /dev/null.
class KazWithoutRoomForAThread {
public:
    KazWithoutRoomForAThread(const std::vector<std::string>& arguments, int errFd) {
        std::string program = KAZ_BINARY;
        std::vector<std::string> copies = arguments;
        std::vector<char*> argv{program.data()};
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ != 0) return;
        setsid();
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(errFd, 2);
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 ||
                              setuid(kNobody) != 0)) {
            _exit(kCannotDrop);
        }
        // Lowered after the user changed, so that the change itself is not
        // held to the limit.
        struct rlimit one = {1, 1};
        if (setrlimit(RLIMIT_NPROC, &one) != 0) _exit(kCannotDrop);
        // A sanitizer build's leak check needs a thread of its own at exit,
        // which the limit refuses as well.
        const char* sanitizer = getenv("ASAN_OPTIONS");
        std::string options = sanitizer != nullptr ? std::string(sanitizer) + ":" : "";
        setenv("ASAN_OPTIONS", (options + "detect_leaks=0").c_str(), 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ~KazWithoutRoomForAThread() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The wait status, or -1 when it has not ended within the time.
    int waitForEnd(int seconds = 30) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    static constexpr int kCannotDrop = 126;

private:
    static constexpr uid_t kNobody = 65534;
    pid_t pid_ = -1;
    bool ended_ = false;
};

std::string procStatusLine(pid_t pid, const std::string& key) {
    std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("\n" + key + ":\t");
    if (at == std::string::npos) return {};
    at += key.size() + 3;
    return status.substr(at, status.find('\n', at) - at);
}

}  // namespace

TEST(Cli, ArgumentErrorsShowTheMessageAndTheUsage) {
    expectUsageError({}, "No source or target");
    expectUsageError({"-v", "a", "b"}, "Ambiguous switch: -v");
    expectUsageError({"a", "b", "-delayopen=5ms"},
                     "Invalid character in numberic argument: -delayopen=5ms");
    for (const char* bad : {"-limitDelete=-1", "-limitDelete=x"})
        expectUsageError({"a", "b", bad}, std::string("Invalid character in numberic argument: ") + bad);
    expectUsageError({"a", "b", "-limitDelete"}, "Switch not found: -limitDelete");
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

TEST(Cli, AWorkerThatCannotStartEndsTheRunWithAMessage) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
    writeFile(dir / "run.log", "an old log");
    std::string errors = dir / "errors";
    int errFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(errFd, 0);
    KazWithoutRoomForAThread kaz({dir / "src", dir / "dst", dir / "run.log", "-nowarn"}, errFd);
    close(errFd);
    int status = kaz.waitForEnd();
    ASSERT_NE(status, -1) << "kaz did not end: " << readFile(errors);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == KazWithoutRoomForAThread::kCannotDrop) {
        GTEST_SKIP() << "cannot run kaz as an unprivileged user at its process limit";
    }
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readFile(errors), "KAZ - message\nKAZ - Unable to start the worker thread\n"
                                "Code=8 - ERROR_NOT_ENOUGH_MEMORY\n");
    // Nothing of the run has happened.
    EXPECT_EQ(readFile(dir / "run.log"), "an old log");
    EXPECT_FALSE(fileExists(dir / "run.log.~~~"));
    EXPECT_FALSE(fileExists(dir / "dst"));
}

TEST(Cli, ASignalEndsARunThatHasNoWorkerToNoticeIt) {
    for (int number : {SIGTERM, SIGHUP, SIGINT}) {
        TempDir dir;
        ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
        // Standard error is a full pipe that nobody reads (a terminal held
        // by Ctrl-S is the same): the message that the worker could not
        // start never gets out, and nothing but the signal can end kaz.
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
        std::string block(4096, 'x');
        while (write(pipeFds[1], block.data(), block.size()) > 0) {
        }
        ASSERT_EQ(errno, EAGAIN);
        fcntl(pipeFds[1], F_SETFL, 0);
        KazWithoutRoomForAThread kaz({dir / "src", dir / "dst", "-nowarn"}, pipeFds[1]);
        close(pipeFds[1]);
        // Kaz has its handlers and is blocked.
        unsigned long long bit = 1ull << (number - 1);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool ready = false;
        while (!ready && std::chrono::steady_clock::now() < end) {
            std::string caught = procStatusLine(kaz.pid(), "SigCgt");
            std::string state = procStatusLine(kaz.pid(), "State");
            ready = !caught.empty() && (std::stoull(caught, nullptr, 16) & bit) != 0 &&
                    state.rfind("S", 0) == 0;
            if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        int status = 0;
        if (!ready) {
            status = kaz.waitForEnd(1);
            close(pipeFds[0]);
            if (status != -1 && WIFEXITED(status) &&
                WEXITSTATUS(status) == KazWithoutRoomForAThread::kCannotDrop) {
                GTEST_SKIP() << "cannot run kaz as an unprivileged user at its process limit";
            }
            FAIL() << "kaz never waited with its signal handlers in place";
        }
        kill(kaz.pid(), number);
        status = kaz.waitForEnd();
        close(pipeFds[0]);
        ASSERT_NE(status, -1) << "signal " << number << " did not end kaz";
        ASSERT_TRUE(WIFEXITED(status)) << number << ": " << status;
        EXPECT_EQ(WEXITSTATUS(status), 1) << number;
        EXPECT_FALSE(fileExists(dir / "dst"));
    }
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
