#include "engine/exclude_filters.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/conventions.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/run_state.h"
#include "support/heap.h"

namespace {

constexpr int32_t kFilterGrowth = 10;

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isControl(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

void readFilterList(HANDLE file, const char* name) {
    // A filter from a list holds at most a path less its terminator.
    const size_t longest = static_cast<size_t>(platform::kMaxPath) - 1;
    std::string word;
    char c = 0;
    DWORD got = 0;
    for (;;) {
        bool more = ReadFile(file, &c, 1, &got, nullptr) && got == 1;
        if (!more || isWhiteSpace(c)) {
            // The whole word is looked at: a NUL would cut its text short.
            if (std::any_of(word.begin(), word.end(), isControl)) {
                CloseHandle(file);
                std::string where =
                    "Control character in exclude list " + controlCharactersShown(name) + ": ";
                fatalMessage2(1, where.c_str(), controlCharactersShown(word).c_str());
            }
            if (!word.empty()) addExcludeFilter(word.c_str());
            word.clear();
            if (!more) return;
            continue;
        }
        if (word.size() == longest) {
            CloseHandle(file);
            fatalMessage(1, "Exclude filter too large.\r\n");
        }
        word += c;
    }
}

void appendForDisplay(const char* text) {
    bool quoted = std::strpbrk(text, " +,;=[]") != nullptr;
    if (quoted) runState.excludeText.append("\"");
    runState.excludeText.append(text);
    if (quoted) runState.excludeText.append("\"");
    runState.excludeText.append(" ");
}

}  // namespace

void loadExcludeArgument(const char* text) {
    if (text[0] != '@') {
        if (holdsControlCharacter(text)) {
            fatalMessage2(1, "Control character in exclude filter: ",
                          controlCharactersShown(text).c_str());
        }
        addExcludeFilter(text);
        return;
    }
    const char* name = text + 1;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) fatalMessage2(1, "Exclude list not found: ", name);
    readFilterList(file, name);
    CloseHandle(file);
}

bool holdsControlCharacter(const char* text) {
    for (; *text != '\0'; ++text) {
        if (isControl(*text)) return true;
    }
    return false;
}

std::string controlCharactersShown(std::string_view text) {
    std::string shown;
    for (char c : text) {
        if (!isControl(c)) {
            shown += c;
        } else {
            shown += '^';
            shown += c == 0x7F ? '?' : static_cast<char>(c + '@');
        }
    }
    return shown;
}

void addExcludeFilter(const char* text) {
    if (runState.excludeCount == runState.excludeCapacity) {
        size_t slots = static_cast<size_t>(runState.excludeCapacity + kFilterGrowth);
        auto** grown = static_cast<char**>(heapAllocate(slots * sizeof(char*)));
        if (grown == nullptr) fatalMessage(1, "KAZ - too many exclude filters");
        for (int32_t i = 0; i < runState.excludeCount; ++i) grown[i] = runState.excludeFilters[i];
        heapFree(runState.excludeFilters);
        runState.excludeFilters = grown;
        runState.excludeCapacity += kFilterGrowth;
    }
    size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(heapAllocate(size));
    if (copy == nullptr) fatalMessage(1, "Too many exclude filters");
    std::memcpy(copy, text, size);
    runState.excludeFilters[runState.excludeCount++] = copy;
    appendForDisplay(text);
}

namespace {

int countSeparators(const char* text) {
    int count = 0;
    for (; *text != '\0'; ++text) count += *text == platform::kPathSeparator ? 1 : 0;
    return count;
}

// The text up to the next separator (or the end), and the position after it.
std::string takeName(const char*& text) {
    const char* end = std::strchr(text, platform::kPathSeparator);
    if (end == nullptr) end = text + std::strlen(text);
    std::string name(text, end);
    text = *end == '\0' ? end : end + 1;
    return name;
}

bool filterExcludes(const char* filter, const char* folders, int depth,
                    const WIN32_FIND_DATAA& entry) {
    int parts = countSeparators(filter);
    if (parts == 0) {
        // A plain name pattern is about files only.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
        return wildcardMatch(entry.cFileName, filter) == 1;
    }
    if (filter[0] == platform::kPathSeparator) {
        ++filter;
        --parts;
        if (parts != depth) return false;
    } else {
        if (parts > depth) return false;
        // The filter's folders are the last ones of the path.
        for (int i = 0; i < depth - parts; ++i) takeName(folders);
    }
    for (int i = 0; i < parts; ++i) {
        std::string folder = takeName(folders);
        std::string pattern = takeName(filter);
        if (wildcardMatch(folder.c_str(), pattern.c_str()) != 1) return false;
    }
    // An empty name part takes everything in such a folder, folders too.
    if (*filter == '\0') return true;
    return wildcardMatch(entry.cFileName, filter) == 1;
}

}  // namespace

int isExcluded(const char* folderPath, const WIN32_FIND_DATAA& entry) {
    // Asked of every entry of a run, which mostly has no filters at all.
    if (runState.excludeCount == 0) return 0;
    const char* folders = folderPath;
    if (platform::kDriveLetters && folders[0] != '\0' && folders[1] == ':') folders += 2;
    if (*folders == platform::kPathSeparator) ++folders;
    int depth = countSeparators(folders);
    for (int32_t i = 0; i < runState.excludeCount; ++i) {
        if (filterExcludes(runState.excludeFilters[i], folders, depth, entry)) {
            ++runState.totalFilesExcluded;
            ++runState.totalFilesConsidered;
            return 1;
        }
    }
    return 0;
}
