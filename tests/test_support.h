// Helpers shared by the tests: a fresh run state, temporary folders, files.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "platform/conventions.h"
#include "report/run_state.h"

// A folder under the temporary folder that is removed with everything in it
// at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const {
        return path_ + platform::kPathSeparator + name;
    }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

#include <vector>

// The exit code of a run that went to its end without doing everything:
// exceptions, files left busy, differences found.
constexpr int kRunIncomplete = 2;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The kaz binary running in the background, with standard input from
// /dev/null and without a controlling terminal.
class KazProcess {
public:
    // With a user id, kaz runs as that user (the tests run as root in CI).
    explicit KazProcess(const std::vector<std::string>& arguments, int userId = -1);
    ~KazProcess();
    void signal(int number);
    // Waits for the end and collects the output and exit code.
    RunResult wait();

private:
    int pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string outFile_, errFile_;
};

// Runs kaz to its end.
RunResult runKaz(const std::vector<std::string>& arguments);
// Waits for kaz, killing it if it has not ended after `seconds`: a hang shows
// as exit code 128 + SIGKILL instead of a stuck suite.
RunResult waitWithin(KazProcess& kaz, int seconds);

// A whole run in this process, through the run entry, with the arguments
// after the program's name; the run entry's result. The argument vector
// lives until the next run, as the process's own would.
class InProcessRun {
public:
    int operator()(const std::vector<std::string>& given);

private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
};

// Runs a shell command; returns what it printed (standard output and error)
// and sets *status to its exit status.
std::string shell(const std::string& command, int* status = nullptr);

// Polls `condition` until it holds; false if it still does not after
// `seconds`. The deadline only keeps a fault from hanging the suite: a
// passing test never comes near it, so it is generous.
template <typename Condition>
bool eventually(Condition condition, int seconds = 60) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
