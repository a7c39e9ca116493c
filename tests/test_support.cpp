#include "test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
// Death tests re-run the test binary instead of forking a threaded process.
struct DeathTestStyle {
    DeathTestStyle() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
} deathTestStyle;
}  // namespace

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

RunResult runKaz(const std::vector<std::string>& arguments) {
    std::string outFile = "/tmp/kaz-out-XXXXXX", errFile = "/tmp/kaz-err-XXXXXX";
    int outFd = mkstemp(outFile.data());
    int errFd = mkstemp(errFile.data());
    pid_t child = fork();
    if (child == 0) {
        setsid();  // no controlling terminal: questions are answered No
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        std::vector<char*> argv;
        std::string program = KAZ_BINARY;
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    lseek(outFd, 0, SEEK_SET);
    lseek(errFd, 0, SEEK_SET);
    result.out = drain(outFd);
    result.err = drain(errFd);
    unlink(outFile.c_str());
    unlink(errFile.c_str());
    return result;
}
