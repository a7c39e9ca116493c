#include "win32/win_support.h"

#include <stdexcept>

namespace wintest {

namespace {

bool isDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

std::string uniqueTempName() {
    static unsigned counter = 0;
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) throw std::runtime_error("GetTempPathA failed");
    std::string path(base, length);
    if (path.back() != '\\') path += '\\';
    return path + "kaz-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
}

}  // namespace

std::string makeTempFolder() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = uniqueTempName();
        if (CreateDirectoryA(candidate.c_str(), nullptr)) return candidate;
    }
    throw std::runtime_error("no temporary folder");
}

TempFolder::TempFolder() : path_(makeTempFolder()) {}

TempFolder::~TempFolder() { removeTree(path_); }

bool removeTree(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return true;
    // A junction or link to a folder goes itself, neither entered nor changed:
    // what it leads to is none of ours.
    const DWORD folderLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((attrs & folderLink) == folderLink) return RemoveDirectoryA(path.c_str()) != 0;
    // Read-only entries made by a test must not stop the clean-up.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != 0;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!isDotEntry(entry.cFileName)) removeTree(path + "\\" + entry.cFileName);
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}

void makeFolders(const std::string& path) {
    if (path.empty() || folderExists(path)) return;
    size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':') {
        makeFolders(path.substr(0, cut));
    }
    CreateDirectoryA(path.c_str(), nullptr);
}

void writeFile(const std::string& path, const std::string& content) {
    size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos) makeFolders(path.substr(0, cut));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                        nullptr);
    CloseHandle(file);
    if (!ok || written != content.size()) throw std::runtime_error("short write " + path);
}

std::string readFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char block[65536];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof block, &read, nullptr) && read > 0) {
        content.append(block, read);
    }
    CloseHandle(file);
    return content;
}

bool fileExists(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

void setAttributes(const std::string& path, DWORD attrs) {
    if (!SetFileAttributesA(path.c_str(), attrs)) {
        throw std::runtime_error("cannot set attributes of " + path);
    }
}

FILETIME fileTimeFromSeconds(long long secondsSince2000) {
    // 2000-01-01 in 100-ns ticks since 1601-01-01.
    const unsigned long long epoch2000 = 125911584000000000ULL;
    unsigned long long ticks = epoch2000 + static_cast<unsigned long long>(secondsSince2000) *
                                               10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

FILETIME lastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        throw std::runtime_error("cannot read the times of " + path);
    }
    return data.ftLastWriteTime;
}

void setLastWriteTime(const std::string& path, const FILETIME& time) {
    // Folders open only with backup semantics.
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
    BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    if (!ok) throw std::runtime_error("cannot set the time of " + path);
}

void setLastWriteTime(const std::string& path, long long secondsSince2000) {
    setLastWriteTime(path, fileTimeFromSeconds(secondsSince2000));
}

std::string kazPath() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) throw std::runtime_error("GetModuleFileNameA");
    std::string path(self, length);
    return path.substr(0, path.find_last_of('\\') + 1) + "kaz.exe";
}

std::string quoteArgument(const std::string& argument) {
    if (argument.empty() || argument.find_first_of(" \t,") != std::string::npos) {
        return "\"" + argument + "\"";
    }
    return argument;
}

std::string commandLineOf(const std::vector<std::string>& arguments) {
    std::string line = "\"" + kazPath() + "\"";
    for (const std::string& argument : arguments) line += " " + quoteArgument(argument);
    return line;
}

KazProcess::KazProcess(const std::vector<std::string>& arguments) {
    start(commandLineOf(arguments));
}

KazProcess::KazProcess(const std::string& argumentText) {
    start("\"" + kazPath() + "\" " + argumentText);
}

void KazProcess::start(const std::string& commandLine) {
    std::string line = commandLine;  // CreateProcessA may write into it
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(kazPath().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
}

KazProcess::~KazProcess() {
    if (process_ == nullptr) return;
    kill();
    CloseHandle(process_);
}

bool KazProcess::wait(DWORD limitMs) {
    return process_ != nullptr && WaitForSingleObject(process_, limitMs) == WAIT_OBJECT_0;
}

bool KazProcess::running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void KazProcess::kill() {
    if (!running()) return;
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, 10000);
}

int KazProcess::exitCode() const {
    DWORD code = 0;
    if (process_ == nullptr || running() || !GetExitCodeProcess(process_, &code)) return -1;
    return static_cast<int>(code);
}

namespace {

int finish(KazProcess& process, DWORD limitMs) {
    if (!process.started()) return -1;
    if (!process.wait(limitMs)) {
        process.kill();
        return -1;
    }
    return process.exitCode();
}

}  // namespace

int runKaz(const std::vector<std::string>& arguments, DWORD limitMs) {
    KazProcess process(arguments);
    return finish(process, limitMs);
}

int runKazText(const std::string& argumentText, DWORD limitMs) {
    KazProcess process(argumentText);
    return finish(process, limitMs);
}

std::string controlText(HWND control) {
    char text[4096];
    DWORD_PTR length = 0;
    // A hung or ended process gives an empty text instead of a hang.
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length)) {
        return {};
    }
    return std::string(text, length);
}

namespace {

std::string classOf(HWND window) {
    char name[256];
    int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && classOf(window) == "#32770") {
        search->found.push_back(window);
    }
    return TRUE;
}

struct ChildSurvey {
    bool onlyButtonsAndStatics = true;
    bool hasMessageText = false;
};

BOOL CALLBACK surveyChild(HWND child, LPARAM data) {
    auto* survey = reinterpret_cast<ChildSurvey*>(data);
    std::string kind = classOf(child);
    if (kind != "Button" && kind != "Static") survey->onlyButtonsAndStatics = false;
    if (kind == "Static" && GetDlgCtrlID(child) == platform::kMessageTextId) survey->hasMessageText = true;
    return TRUE;
}

// Waits in short steps until `done` holds or the limit has passed.
template <typename Done>
bool pollUntil(DWORD limitMs, Done done) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= limitMs) return false;
        Sleep(50);
    }
}

}  // namespace

std::vector<HWND> dialogWindowsOf(DWORD processId) {
    DialogSearch search{processId, {}};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool isMessageBox(HWND window) {
    ChildSurvey survey;
    EnumChildWindows(window, surveyChild, reinterpret_cast<LPARAM>(&survey));
    return survey.onlyButtonsAndStatics && survey.hasMessageText;
}

bool findMessageBox(DWORD processId, MessageBoxSeen& seen) {
    for (HWND window : dialogWindowsOf(processId)) {
        if (!isMessageBox(window)) continue;
        seen.window = window;
        seen.caption = windowText(window);
        seen.text = windowText(GetDlgItem(window, platform::kMessageTextId));
        return true;
    }
    return false;
}

bool waitForMessageBox(const KazProcess& process, DWORD limitMs, MessageBoxSeen& seen) {
    bool found = false;
    pollUntil(limitMs, [&] {
        found = findMessageBox(process.id(), seen);
        return found || !process.running();
    });
    return found;
}

bool answerMessageBox(HWND box, int answer) {
    HWND button = GetDlgItem(box, answer);
    if (button == nullptr) return false;
    return PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

bool waitForWindowGone(HWND window, DWORD limitMs) {
    return pollUntil(limitMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

HWND findProgressDialog(DWORD processId) {
    for (HWND window : dialogWindowsOf(processId)) {
        if (!isMessageBox(window)) return window;
    }
    return nullptr;
}

HWND waitForProgressDialog(const KazProcess& process, DWORD limitMs) {
    HWND dialog = nullptr;
    pollUntil(limitMs, [&] {
        dialog = findProgressDialog(process.id());
        return dialog != nullptr || !process.running();
    });
    return dialog;
}

int runKazAnswering(const std::vector<std::string>& arguments, int answer,
                    std::vector<MessageBoxSeen>& boxes, DWORD limitMs) {
    KazProcess process(arguments);
    if (!process.started()) return -1;
    HWND lastAnswered = nullptr;
    bool ended = pollUntil(limitMs, [&] {
        MessageBoxSeen seen;
        if (findMessageBox(process.id(), seen) && seen.window != lastAnswered) {
            boxes.push_back(seen);
            answerMessageBox(seen.window, answer);
            lastAnswered = seen.window;
        }
        return !process.running();
    });
    if (!ended) {
        process.kill();
        return -1;
    }
    return process.exitCode();
}

}  // namespace wintest
