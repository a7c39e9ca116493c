// The computer name: the host name up to its first dot.
#include <unistd.h>

#include <cstring>

#include "platform/windows_api.h"

BOOL GetComputerNameA(LPSTR name, DWORD* size) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    host[std::strcspn(host, ".")] = '\0';
    DWORD length = static_cast<DWORD>(std::strlen(host));
    if (name == nullptr || *size < length + 1) {
        *size = length + 1;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(name, host, length + 1);
    *size = length;
    return TRUE;
}
