#include "win32/shortcut_maker.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

namespace wintest {

bool makeShortcut(const std::string& linkPath, const std::string& targetPath) {
    // COM stays up on the test thread once started.
    static const HRESULT com = CoInitialize(nullptr);
    if (FAILED(com)) return false;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool saved = false;
    IPersistFile* file = nullptr;
    wchar_t widePath[MAX_PATH];
    if (SUCCEEDED(link->SetPath(targetPath.c_str())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        saved = MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH) != 0 &&
                SUCCEEDED(file->Save(widePath, TRUE));
        file->Release();
    }
    link->Release();
    return saved;
}

}  // namespace wintest
