// Shortcuts are shell links, read through IShellLinkA and IPersistFile.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/shortcuts.h"
#include "platform/windows_api.h"

namespace {

const DWORD kResolveQuietly = SLR_NO_UI | SLR_ANY_MATCH;

// The worker thread brings COM up on its first shortcut and keeps it.
bool comReady() {
    thread_local HRESULT status = CoInitialize(nullptr);
    return SUCCEEDED(status);
}

// The path the link at `path` names, or an empty text.
std::string linkPath(IShellLinkA* link, const char* path) {
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
        return {};
    wchar_t widePath[MAX_PATH];
    char folder[MAX_PATH] = "";
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) != 0 &&
        SUCCEEDED(file->Load(widePath, STGM_READ)) &&
        SUCCEEDED(link->Resolve(nullptr, kResolveQuietly))) {
        WIN32_FIND_DATAA found;
        if (FAILED(link->GetPath(folder, MAX_PATH, &found, SLGP_UNCPRIORITY))) folder[0] = '\0';
    }
    file->Release();
    return folder;
}

}  // namespace

namespace platform {

bool readFolderShortcut(const char* path, std::string& folder) {
    folder.clear();
    if (path == nullptr || !comReady()) return false;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    folder = linkPath(link, path);
    link->Release();
    return !folder.empty();
}

}  // namespace platform
