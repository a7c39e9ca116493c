// The unit tests' temporary folders and files, over the Windows helpers.
//
// A death test on Windows runs its test again in a new process, which must
// find the folders the parent made: folder names are therefore made from
// the process that runs the tests (the parent, seen from a death-test
// child), the test's name and the folder's place in the test.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "win32/win_support.h"

namespace {

// The parent's process id, when this process is a death-test child; gtest
// passes it as the fourth field of its internal flag.
DWORD deathTestParent() {
    const char* flag = std::strstr(GetCommandLineA(), "--gtest_internal_run_death_test=");
    if (flag == nullptr) return 0;
    const char* field = std::strchr(flag, '=') + 1;
    for (int skip = 0; skip < 3 && field != nullptr; ++skip) {
        field = std::strchr(field, '|');
        if (field != nullptr) ++field;
    }
    return field != nullptr ? static_cast<DWORD>(std::strtoul(field, nullptr, 10)) : 0;
}

std::string currentTestName() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (test == nullptr) return "outside";
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|')
            c = '_';
    }
    return name;
}

// The next folder name of the running test.
std::string nextFolderName() {
    static std::string lastTest;
    static int place = 0;
    std::string test = currentTestName();
    if (test != lastTest) {
        lastTest = test;
        place = 0;
    }
    DWORD parent = deathTestParent();
    DWORD owner = parent != 0 ? parent : GetCurrentProcessId();
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    std::string path(base, length);
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path + "kaz-unit-" + std::to_string(owner) + "-" + test + "-" +
           std::to_string(++place);
}

}  // namespace

TempDir::TempDir() : path_(nextFolderName()) {
    // The parent starts afresh; a death-test child takes the parent's folder.
    if (deathTestParent() == 0) wintest::removeTree(path_);
    wintest::makeFolders(path_);
}

TempDir::~TempDir() {
    if (deathTestParent() == 0) wintest::removeTree(path_);
}

void writeFile(const std::string& path, const std::string& content) {
    wintest::writeFile(path, content);
}

std::string readFile(const std::string& path) { return wintest::readFile(path); }

bool fileExists(const std::string& path) {
    return wintest::attributes(path) != INVALID_FILE_ATTRIBUTES;
}
