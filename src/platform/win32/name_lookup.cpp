// Windows names cannot hold wildcards, so a look-up is a find of that name.
#include "platform/name_lookup.h"

#include "platform/windows_api.h"

namespace platform {

BOOL lookUpName(const char* path, WIN32_FIND_DATAA* data) {
    HANDLE find = FindFirstFileA(path, data);
    if (find == INVALID_HANDLE_VALUE) return FALSE;
    FindClose(find);
    return TRUE;
}

}  // namespace platform
