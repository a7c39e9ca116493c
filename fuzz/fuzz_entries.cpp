#include "fuzz_entries.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/copy_list.h"
#include "engine/exclude_filters.h"
#include "platform/conventions.h"
#include "platform/message_boxes.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "run/command_line.h"
#include "run/command_splitter.h"
#include "support/text_buffer.h"
#include "test_support.h"

namespace {

// Halves of the input around its first NUL (the second empty without one).
std::pair<std::string, std::string> splitAtNul(const uint8_t* data, size_t size) {
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t nul = all.find('\0');
    if (nul == std::string::npos) return {all, std::string()};
    std::string second = all.substr(nul + 1);
    second.resize(std::strlen(second.c_str()));
    return {all.substr(0, nul), second};
}

// A file of this process that holds the input, for readers that take a name.
std::string inputFile(const uint8_t* data, size_t size) {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("kaz-fuzz-" + std::to_string(::getpid()) + ".txt"))
                                        .string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

int silentMessageBox(const char*, const char*, UINT) { return IDOK; }

// matchNumber ends the run for a value that is not a number in range; such
// an argument is a designed stop, not a fault, so it is not fed to it.
bool numberValueIsValid(const std::string& argument) {
    size_t equals = argument.find('=');
    if (equals == std::string::npos) return true;
    long long value = 0;
    for (size_t i = equals + 1; i < argument.size(); ++i) {
        char c = argument[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return false;
    }
    return true;
}

}  // namespace

void fuzzSwitchMatchers(const uint8_t* data, size_t size) {
    auto [name, argument] = splitAtNul(data, size);
    int32_t field = 0;
    matchFlag(name.c_str(), argument.c_str(), field);
    if (numberValueIsValid(argument)) matchNumber(name.c_str(), argument.c_str(), field);
    // A value longer than a path ends the run with the usage text.
    size_t equals = argument.find('=');
    if (equals == std::string::npos ||
        argument.size() - equals - 1 <= static_cast<size_t>(platform::kMaxPath) + 3) {
        TextBuffer value;
        if (matchText(name.c_str(), argument.c_str(), value)) (void)std::strlen(value.text());
    }
}

void fuzzCommandSplitter(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    line.resize(std::strlen(line.c_str()));
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    constexpr int kLimit = 16;
    char* argv[kLimit + 1] = {};
    TextBuffer commandText("KAZ ", static_cast<int32_t>(line.size() + 1));
    int argc = splitCommandLine(buffer.data(), argv, kLimit, commandText);
    for (int i = 0; i < argc && i < kLimit; ++i) {
        if (argv[i] != nullptr) (void)std::strlen(argv[i]);
    }
}

void fuzzWildcardMatch(const uint8_t* data, size_t size) {
    auto [name, pattern] = splitAtNul(data, size);
    wildcardMatch(name.c_str(), pattern.c_str());
}

void fuzzFilterList(const uint8_t* data, size_t size) {
    // A word as long as a path ends the run ("Exclude filter too large"):
    // a designed stop, so such inputs are passed over.
    const size_t longest = static_cast<size_t>(platform::kMaxPath) - 1;
    size_t word = 0;
    for (size_t i = 0; i < size; ++i) {
        char c = static_cast<char>(data[i]);
        bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
        word = blank ? 0 : word + 1;
        if (word > longest) return;
    }
    resetRunState();
    std::string argument = "@" + inputFile(data, size);
    loadExcludeArgument(argument.c_str());
    resetRunState();
}

void fuzzCopyList(const uint8_t* data, size_t size) {
    resetRunState();
    platform::setMessageBoxPresenter(silentMessageBox);
    std::string path = inputFile(data, size);
    runState.scriptHandle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (runState.scriptHandle == INVALID_HANDLE_VALUE) return;
    // A trial run copies nothing; without a log the lines go nowhere.
    runState.trialRun = 1;
    runState.quiet = 1;
    replayCopyList();
    CloseHandle(runState.scriptHandle);
    runState.scriptHandle = INVALID_HANDLE_VALUE;
    platform::setMessageBoxPresenter(nullptr);
    resetRunState();
}
