#include "win32/folder_link.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "win32/win_support.h"

namespace wintest {

namespace {

constexpr DWORD kLinkWaitMs = 10000;
constexpr char kMarker[] = "\\kaz-link-check.tmp";

std::wstring widened(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return L"";
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

// An export of kernel32 that this Windows may lack; null then.
template <typename Function>
Function kernelExport(const char* name) {
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
    // Through the generic function type, as C++ allows between any two.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

std::string fullPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return "";
    return std::string(full, length);
}

// The link shows the folder's entries: a marker made in the folder is seen
// through the link.
bool leadsTo(const std::string& link, const std::string& folder) {
    if (!isFolderLink(link)) return false;
    writeFile(folder + kMarker, "marker");
    bool seen = fileExists(link + kMarker);
    DeleteFileA((folder + kMarker).c_str());
    return seen;
}

// Unix links appear a moment after the program that makes them started:
// Wine gives no handle to wait on for a Unix program.
template <typename Condition>
bool waitFor(Condition condition) {
    for (DWORD waited = 0; waited < kLinkWaitMs; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}

// The mount-point form of the reparse data: the target as an NT path, then
// an empty name to print.
bool makeJunction(const std::string& link, const std::string& folder) {
    std::string target = fullPath(folder);
    if (target.empty()) return false;
    std::wstring substitute = widened("\\??\\" + target);
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const size_t header = 16;  // tag, length, reserved, four offsets and lengths
    std::vector<BYTE> data(header + substituteBytes + 2 * sizeof(wchar_t), 0);
    auto putWord = [&](size_t at, WORD value) { memcpy(&data[at], &value, sizeof value); };
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(&data[0], &tag, sizeof tag);
    putWord(4, static_cast<WORD>(data.size() - 8));
    putWord(8, 0);
    putWord(10, substituteBytes);
    putWord(12, static_cast<WORD>(substituteBytes + sizeof(wchar_t)));
    putWord(14, 0);
    memcpy(&data[header], substitute.data(), substituteBytes);

    if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
    HANDLE handle = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    DWORD returned = 0;
    bool set = handle != INVALID_HANDLE_VALUE &&
               DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, data.data(),
                               static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (set && leadsTo(link, folder)) return true;
    RemoveDirectoryA(link.c_str());
    return false;
}

bool makeSymbolicLink(const std::string& link, const std::string& folder) {
    using Create = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    auto create = kernelExport<Create>("CreateSymbolicLinkA");
    if (create == nullptr) return false;
    const DWORD toFolder = 0x1, withoutPrivilege = 0x2;
    std::string target = fullPath(folder);
    if (!create(link.c_str(), target.c_str(), toFolder | withoutPrivilege) &&
        !create(link.c_str(), target.c_str(), toFolder))
        return false;
    if (leadsTo(link, folder)) return true;
    RemoveDirectoryA(link.c_str());
    return false;
}

// Under Wine only: the Unix path of a Windows path (whose last part need not
// exist); empty elsewhere.
std::string unixPath(const std::string& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = kernelExport<UnixName>("wine_get_unix_file_name");
    if (unixName == nullptr) return "";
    char* name = unixName(widened(fullPath(path)).c_str());
    if (name == nullptr) return "";
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool runUnixProgram(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool quotable(const std::string& path) {
    return !path.empty() && path.find('"') == std::string::npos;
}

bool makeUnixLink(const std::string& link, const std::string& folder) {
    std::string from = unixPath(link), to = unixPath(folder);
    if (!quotable(from) || !quotable(to)) return false;
    if (!runUnixProgram("/bin/ln -s -- \"" + to + "\" \"" + from + "\"")) return false;
    if (waitFor([&] { return isFolderLink(link); }) && leadsTo(link, folder)) return true;
    return false;
}

bool removeUnixLink(const std::string& link) {
    std::string from = unixPath(link);
    if (!quotable(from) || !runUnixProgram("/bin/rm -f -- \"" + from + "\"")) return false;
    return waitFor([&] { return attributes(link) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace

bool isFolderLink(const std::string& path) {
    const DWORD kind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    DWORD found = attributes(path);
    return found != INVALID_FILE_ATTRIBUTES && (found & kind) == kind;
}

FolderLink::FolderLink(const std::string& link, const std::string& folder) : link_(link) {
    if (attributes(link) != INVALID_FILE_ATTRIBUTES) {
        whyNot_ = link + " exists already";
        return;
    }
    if (makeJunction(link, folder)) {
        kind_ = "junction";
    } else if (makeSymbolicLink(link, folder)) {
        kind_ = "symbolic link";
    } else if (makeUnixLink(link, folder)) {
        kind_ = "Unix symbolic link";
    } else {
        whyNot_ = "this system makes no junction or symbolic link to a folder here, and is no "
                  "Wine that shows a Unix link as one";
    }
}

FolderLink::~FolderLink() {
    if (kind_ == "Unix symbolic link") {
        removeUnixLink(link_);
    } else if (made()) {
        RemoveDirectoryA(link_.c_str());
    }
}

}  // namespace wintest
