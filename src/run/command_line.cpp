#include "run/command_line.h"
#include "run/run_entry.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/exclude_filters.h"
#include "platform/conventions.h"
#include "platform/text_case.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "support/run_stop.h"
#include "support/text_buffer.h"

namespace {

constexpr int32_t kLongestDelay = 10000;

enum class Kind { Flag, Number };

struct SwitchRow {
    const char* name;  // as spelled, without the prefix
    Kind kind;
    int32_t RunState::*field;
};

// Tested in this order; the exclude switches follow as a last row.
const SwitchRow kSwitches[] = {
    {"busyWaitTime", Kind::Number, &RunState::busyWaitTime},
    {"debug", Kind::Flag, &RunState::debug},
    {"delayopen", Kind::Number, &RunState::delayOpen},
    {"delaysource", Kind::Number, &RunState::delaySource},
    {"delaytarget", Kind::Number, &RunState::delayTarget},
    {"dos", Kind::Flag, &RunState::dos},
    {"limitDelete", Kind::Number, &RunState::limitDelete},
    {"Maxerrors", Kind::Number, &RunState::maxErrors},
    {"noShare", Kind::Flag, &RunState::noShare},
    {"nounc", Kind::Flag, &RunState::noUnc},
    {"nowarn", Kind::Flag, &RunState::noWarn},
    {"quiet", Kind::Flag, &RunState::quiet},
    {"tally", Kind::Flag, &RunState::tally},
    {"test", Kind::Flag, &RunState::test},
    {"time", Kind::Flag, &RunState::time},
    {"trialRun", Kind::Flag, &RunState::trialRun},
    {"verbose", Kind::Flag, &RunState::verbose},
    {"verify", Kind::Flag, &RunState::verify},
};

std::string prefixed(const char* name) { return std::string(1, platform::kSwitchPrefix) + name; }

// The characters of an argument before its first "=", or -1 without one.
int lengthBeforeEquals(const char* argument) {
    const char* equals = std::strchr(argument, '=');
    return equals ? static_cast<int>(equals - argument) : -1;
}

bool prefixMatches(const char* name, const char* argument, int n, int shortest) {
    return n >= shortest && n <= static_cast<int>(std::strlen(name)) &&
           platform::sameTextIgnoringCase(name, argument, static_cast<size_t>(n));
}

// Tests one argument against every row; returns how many rows matched.
int matchSwitches(const char* argument) {
    int matches = 0;
    for (const SwitchRow& row : kSwitches) {
        std::string name = prefixed(row.name);
        int32_t& field = runState.*row.field;
        int matched = row.kind == Kind::Flag ? matchFlag(name.c_str(), argument, field)
                                             : matchNumber(name.c_str(), argument, field);
        matches += matched;
    }
    TextBuffer value;
    if (matchText(prefixed("x").c_str(), argument, value) ||
        matchText(prefixed("exclude").c_str(), argument, value)) {
        ++matches;
        loadExcludeArgument(value.text());
    }
    for (int32_t* delay : {&runState.delayOpen, &runState.delaySource, &runState.delayTarget}) {
        if (*delay > kLongestDelay) *delay = kLongestDelay;
    }
    return matches;
}

void takeSwitch(const char* argument) {
    // "--name" is the same as "-name".
    const char* spelled = argument;
    if (platform::kSwitchPrefix == '-' && argument[1] == '-') ++spelled;
    int matches = matchSwitches(spelled);
    if (matches == 0) showUsage("Switch not found: ", argument);
    if (matches > 1) showUsage("Ambiguous switch: ", argument);
}

void takePositional(const char* argument) {
    for (TextBuffer* slot : {&runState.sourceArg, &runState.targetArg, &runState.logFileName}) {
        if (slot->data == nullptr) {
            slot->assign(argument);
            return;
        }
    }
    showUsage("Too many arguments: ", argument);
}

bool isHelp(const char* argument) {
    std::string h = prefixed("h"), help = prefixed("help");
    // "--h" as well as "--help": a double dash spells the same switch.
    return argument == h || argument == help || std::strcmp(argument, "--h") == 0 ||
           std::strcmp(argument, "--help") == 0;
}

[[noreturn]] void printHelp() {
    for (const char* p = usageText(); *p != '\0'; ++p) {
        if (*p != '\r') std::putchar(*p);
    }
    std::fflush(stdout);
    stopRun(0);
}

HANDLE startListing(const char* folder) {
    TextBuffer pattern(folder, 10);
    char separator[2] = {platform::kPathSeparator, '\0'};
    pattern.append(separator);
    pattern.append("*.*");
    return FindFirstFileA(pattern.text(), &runState.referenceFindData);
}

int scriptOrReferenceSource() {
    const char* name = runState.sourceArg.text() + 1;
    runState.scriptHandle =
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (runState.scriptHandle != INVALID_HANDLE_VALUE) {
        if (runState.logFileName.data != nullptr) {
            showUsage("Extra argument: ", runState.logFileName.text());
        }
        runState.logFileName = std::move(runState.targetArg);
        return Script;
    }
    if (runState.targetArg.data == nullptr) showUsage("No target ", nullptr);
    if (runState.targetArg.text()[0] == '@') showUsage("Invalid target: ", runState.targetArg.text());
    runState.referenceFind = startListing(name);
    if (runState.referenceFind == INVALID_HANDLE_VALUE) {
        showUsage("Scriptfile or reference not found: ", name);
    }
    return ReferenceToTree;
}

int plainSource() {
    if (runState.targetArg.data == nullptr) showUsage("Target not specified", nullptr);
    const char* target = runState.targetArg.text();
    if (target[0] == '@') {
        runState.referenceFind = startListing(target + 1);
        if (runState.referenceFind == INVALID_HANDLE_VALUE) {
            showUsage("Reference not found: ", target + 1);
        }
        return TreeToReference;
    }
    if (std::strpbrk(target, "?*") != nullptr) {
        showUsage("Target must not contain wildcards: ", target);
    }
    return TreeToTree;
}

// The source and target are written into the log's header, where a line
// break would start a line of the argument's making.
void refuseControlCharacters(const char* message, const TextBuffer& argument) {
    if (argument.data == nullptr || !holdsControlCharacter(argument.text())) return;
    fatalMessage2(1, message, controlCharactersShown(argument.text()).c_str());
}

}  // namespace

int matchFlag(const char* name, const char* argument, int32_t& field) {
    int n = static_cast<int>(std::strlen(argument));
    if (!prefixMatches(name, argument, n, 2)) return 0;
    field = 1;
    return 1;
}

int matchNumber(const char* name, const char* argument, int32_t& field) {
    int n = lengthBeforeEquals(argument);
    if (!prefixMatches(name, argument, n, 3)) return 0;
    int64_t value = 0;
    for (const char* p = argument + n + 1; *p != '\0'; ++p) {
        // Kept as written, misspelling included: logs and messages are read by
        // people's scripts.
        if (*p < '0' || *p > '9') showUsage("Invalid character in numberic argument: ", argument);
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) showUsage("Number too large in numeric argument: ", argument);
    }
    field = static_cast<int32_t>(value);
    return 1;
}

int matchText(const char* name, const char* argument, TextBuffer& value) {
    int n = lengthBeforeEquals(argument);
    if (!prefixMatches(name, argument, n, 2)) return 0;
    const char* text = argument + n + 1;
    // The value holds a path or a filter, so it may be as long as a path.
    if (std::strlen(text) > static_cast<size_t>(platform::kMaxPath) + 3) {
        showUsage("Switch value too long: ", argument);
    }
    value.assign(text);
    return 1;
}

int parseCommandLine(int argc, char** argv, const char* commandText) {
    runState.clearSettings();
    runState.commandText = commandText;
    if (argc > kMaxArguments) showUsage("Too many arguments: ", argv[kMaxArguments]);
    for (int i = 1; i < argc; ++i) {
        if (isHelp(argv[i])) printHelp();
    }
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == platform::kSwitchPrefix) {
            takeSwitch(argv[i]);
        } else {
            takePositional(argv[i]);
        }
    }
    if (runState.sourceArg.data == nullptr) showUsage("No source or target", nullptr);
    int mode = runState.sourceArg.text()[0] == '@' ? scriptOrReferenceSource() : plainSource();
    if (mode != Script) {
        refuseControlCharacters("Control character in source: ", runState.sourceArg);
        refuseControlCharacters("Control character in target: ", runState.targetArg);
    }
    if (runState.trialRun) runState.verbose = runState.trialRun;
    openLog();
    return mode;
}

const char* usageText() {
    static std::string text;
    if (!text.empty()) return text.c_str();
    // The lines as stored, with "/" standing for the platform's switch prefix.
    text = " KAZ source target [logfile][switches]\r\n"
           " KAZ @ReferenceFolder target [logfile][switches]\r\n"
           " KAZ source @ReferenceFolder [logfile][switches]\r\n"
           " KAZ @scriptfile [logfile][switches]\r\n"
           "\r\n"
           " switches:\r\n"
           "\r\n"
           "  /busywaittime=seconds /delayopen=milliseconds /delaysource=milliseconds\r\n"
           "  /delaytarget=milliseconds /dos /maxerrors=number /noShare /noUNC /nowarn\r\n"
           "   /quiet /time /trialrun /verbose /verify\r\n"
           "  /limitDelete=number (remove at most that many target entries)\r\n"
           "\r\n"
           "  /x=filter or /exclude=filter or /x=@filterList or /exclude=@filterList\r\n";
    for (char& c : text) {
        if (c == '/') c = platform::kSwitchPrefix;
    }
    return text.c_str();
}

void showUsage(const char* message, const char* argument) {
    TextBuffer text(runState.commandText != nullptr ? runState.commandText : "KAZ ", 1000);
    text.append("\r\n\r\n");
    if (message != nullptr && message[0] != '\0') {
        text.append(message);
        if (argument != nullptr) text.append(argument);
        text.append("\r\n\r\n");
    }
    text.append(usageText());
    writeLog(text.text());
    fatalMessage(1, text.text());
}
