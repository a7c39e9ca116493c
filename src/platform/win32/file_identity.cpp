#include "platform/file_identity.h"

#include "platform/windows_api.h"

namespace platform {

// Opening for no access at all is not refused by the other handle's sharing.
bool isSameFile(HANDLE file, const char* path) {
    HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION held, other;
    bool same = GetFileInformationByHandle(file, &held) &&
                GetFileInformationByHandle(named, &other) &&
                held.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
                held.nFileIndexHigh == other.nFileIndexHigh &&
                held.nFileIndexLow == other.nFileIndexLow;
    CloseHandle(named);
    return same;
}

}  // namespace platform
