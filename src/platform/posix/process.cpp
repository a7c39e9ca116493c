// Conventions and process-wide facts of the POSIX build.
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "platform/arguments.h"
#include "platform/conventions.h"
#include "platform/panel_terminal.h"
#include "platform/text_case.h"
#include "platform/windows_api.h"

namespace platform {

const char kPathSeparator = '/';
const char kSwitchPrefix = '-';
const int kMaxPath = 4096;
const bool kDriveLetters = false;

bool sameName(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

bool sameNamePrefix(const char* a, const char* b, size_t n) {
    return std::strncmp(a, b, n) == 0;
}

size_t nameHash(const char* name) { return std::hash<std::string_view>{}(name); }

bool sameTextIgnoringCase(const char* a, const char* b, size_t n) {
    return strncasecmp(a, b, n) == 0;
}

namespace {
int savedArgc = 0;
char** savedArgv = nullptr;
std::string commandLine;
size_t argumentTextStart = 0;

// An argument the shell received as one word is quoted again when it would
// otherwise not read back as one word.
bool needsQuotes(const char* argument) {
    return argument[0] == '\0' || std::strpbrk(argument, " \t,\"") != nullptr;
}
}  // namespace

void setProcessArguments(int argc, char** argv) {
    savedArgc = argc;
    savedArgv = argv;
    commandLine.clear();
    for (int i = 0; i < argc; ++i) {
        if (i > 0) commandLine += ' ';
        if (i == 1) argumentTextStart = commandLine.size();
        bool quote = needsQuotes(argv[i]);
        if (quote) commandLine += '"';
        commandLine += argv[i];
        if (quote) commandLine += '"';
    }
}

char** processArgumentVector(int* argc, const char** argumentText) {
    *argc = savedArgc;
    *argumentText = savedArgc > 1 ? commandLine.c_str() + argumentTextStart : "";
    return savedArgv;
}

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace platform

LPSTR GetCommandLineA() { return platform::commandLine.data(); }
