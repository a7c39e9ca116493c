#include "platform/win32/window_text.h"

#include "platform/windows_api.h"

namespace platform {

std::string windowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    length = GetWindowTextA(window, text.data(), length + 1);
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

bool isMessageBox(HWND window) {
    char kind[16];
    return GetClassNameA(window, kind, sizeof kind) > 0 && std::string(kind) == "#32770" &&
           GetDlgItem(window, kMessageTextId) != nullptr;
}

}  // namespace platform
