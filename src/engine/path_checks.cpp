#include "engine/path_checks.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/conventions.h"
#include "platform/real_path.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress_dialog.h"
#include "report/run_state.h"
#include "support/run_stop.h"
#include "support/text_buffer.h"

namespace {

constexpr size_t kWildCardLength = 3;  // "*.*"

// Whether the pattern's folder prefix (the pattern without "*.*") is a
// prefix of `other`.
bool startsWithFolderOf(const char* pattern, const char* other) {
    size_t patternLength = std::strlen(pattern);
    if (patternLength < kWildCardLength) return false;
    size_t n = patternLength - kWildCardLength;
    return std::strlen(other) >= n && platform::sameNamePrefix(other, pattern, n);
}

// The real folder behind a pattern, or false when it cannot be worked out.
bool realFolderOf(const char* pattern, std::string& real) {
    size_t length = std::strlen(pattern);
    if (length < kWildCardLength) return false;
    std::string folder(pattern, length - kWildCardLength);
    if (folder.empty()) folder.push_back('.');  // "=" here trips a false GCC 12 -Wrestrict
    return platform::resolvePath(folder.c_str(), real);
}

// Whether the real folder `inner` lies below the real folder `outer`.
bool realFolderInside(const std::string& inner, const std::string& outer) {
    std::string prefix = outer;
    if (prefix.empty() || prefix.back() != platform::kPathSeparator)
        prefix += platform::kPathSeparator;
    return inner.size() > prefix.size() &&
           platform::sameNamePrefix(inner.c_str(), prefix.c_str(), prefix.size());
}

}  // namespace

void makeSearchPattern(TextBuffer& path) {
    const char* text = path.text();
    if (std::strpbrk(text, "*?") != nullptr)
        fatalMessage3(1, "Error in path name (", text, "), no wild cards permitted.");
    if (text[0] == '\0') fatalMessage(1, "Error, NULL path name.");
    size_t length = std::strlen(text);
    bool bareDrive = platform::kDriveLetters && length == 2 && text[1] == ':';
    if (text[length - 1] != platform::kPathSeparator && !bareDrive) {
        const char separator[2] = {platform::kPathSeparator, '\0'};
        path.append(separator);
    }
    path.append("*.*");
}

void checkPathRelation(const char* sourcePattern, const char* targetPattern) {
    // Two spellings of one folder ("..", ".", links) must not hide a target
    // inside the source, so the real folders are compared as well as the text.
    std::string realSource;
    std::string realTarget;
    bool resolved = realFolderOf(sourcePattern, realSource) &&
                    realFolderOf(targetPattern, realTarget);

    if (platform::sameName(sourcePattern, targetPattern) ||
        (resolved && platform::sameName(realSource.c_str(), realTarget.c_str())))
        fatalMessage(1, "Error, source and destination the same.");

    if (startsWithFolderOf(sourcePattern, targetPattern) ||
        (resolved && realFolderInside(realTarget, realSource)))
        fatalMessage(1, "Error, destination is subdirectory of source.");

    if (startsWithFolderOf(targetPattern, sourcePattern) ||
        (resolved && realFolderInside(realSource, realTarget))) {
        int answer = MessageBoxA(dialogWindow(runState.progressDialog),
                                 "Caution, destination may become subdirectory of source.\n"
                                 "Do you wish to proceed?",
                                 "KAZ", MB_YESNO);
        if (answer == IDNO) stopRun(1);
    }

    if (runState.delayOpen >= 0) Sleep(static_cast<DWORD>(runState.delayOpen));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(sourcePattern, &data);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        return;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return;
    writeDebugTrace(13);
    char detail[256];
    std::snprintf(detail, sizeof detail, ").\nCode=%lu - %s\n", static_cast<unsigned long>(code),
                  errorName(code));
    fatalMessage3(1, "Error in source path (", sourcePattern, detail);
}
