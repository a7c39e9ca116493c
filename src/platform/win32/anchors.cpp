// Windows has no call that opens a path below a folder handle while refusing
// junctions and links on the way (not on the versions this build supports),
// so an anchor holds nothing here. What is closed instead: each folder is
// checked before it is listed, and files are opened with
// FILE_FLAG_OPEN_REPARSE_POINT; a folder swapped for a junction between that
// check and the calls below it is not caught.
#include "platform/anchors.h"

namespace platform {

int anchorFolder(const char*) {
    return 0;
}

void releaseAnchor(int) {}

BOOL mayEnterFolder(const char* folder) {
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return TRUE;  // the listing says why
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return TRUE;
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
}

}  // namespace platform
