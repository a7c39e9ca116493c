#include "test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/arguments.h"
#include "run/run_entry.h"

TempDir::TempDir() {
    char name[] = "/tmp/kaz-test-XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Files made read-only by a test must not stop the clean-up.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (!entry.is_symlink()) chmod(entry.path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::string drain(int fd) {
    std::string text;
    char block[4096];
    ssize_t n;
    while ((n = read(fd, block, sizeof block)) > 0) text.append(block, static_cast<size_t>(n));
    close(fd);
    return text;
}
}  // namespace

KazProcess::KazProcess(const std::vector<std::string>& arguments, int userId)
    : outFile_("/tmp/kaz-out-XXXXXX"), errFile_("/tmp/kaz-err-XXXXXX") {
    outFd_ = mkstemp(outFile_.data());
    errFd_ = mkstemp(errFile_.data());
    std::string program = KAZ_BINARY;
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        setsid();  // no controlling terminal: questions are answered No
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(outFd_, 1);
        dup2(errFd_, 2);
        if (userId >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(userId)) != 0 ||
                            setuid(static_cast<uid_t>(userId)) != 0)) {
            _exit(126);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

KazProcess::~KazProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
    unlink(outFile_.c_str());
    unlink(errFile_.c_str());
}

void KazProcess::signal(int number) { kill(pid_, number); }

RunResult KazProcess::wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    lseek(outFd_, 0, SEEK_SET);
    lseek(errFd_, 0, SEEK_SET);
    result.out = drain(outFd_);
    result.err = drain(errFd_);
    outFd_ = errFd_ = -1;
    return result;
}

RunResult runKaz(const std::vector<std::string>& arguments) {
    return KazProcess(arguments).wait();
}

RunResult waitWithin(KazProcess& kaz, int seconds) {
    std::atomic<bool> ended{false};
    std::thread watchdog([&] {
        for (int i = 0; i < seconds * 10 && !ended; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!ended) kaz.signal(SIGKILL);
    });
    RunResult result = kaz.wait();
    ended = true;
    watchdog.join();
    return result;
}

int InProcessRun::operator()(const std::vector<std::string>& given) {
    resetRunState();
    arguments_ = {"kaz"};
    arguments_.insert(arguments_.end(), given.begin(), given.end());
    argv_.clear();
    for (std::string& argument : arguments_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    platform::setProcessArguments(static_cast<int>(arguments_.size()), argv_.data());
    return runEntry(nullptr);
}

std::string shell(const std::string& command, int* status) {
    std::string text;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return text;
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, pipe)) > 0) text.append(block, n);
    int rc = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return text;
}
