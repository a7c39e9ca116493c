// Holes on NTFS: a file marked sparse, its allocated ranges asked for.
#include "platform/sparse_files.h"

#include <winioctl.h>

#include <algorithm>

#include "platform/windows_api.h"

namespace platform {
namespace {

BOOL moveTo(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
}

}  // namespace

// Only a file marked sparse can hold holes on Windows.
bool hasHoles(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
}

BOOL findData(HANDLE file, uint64_t offset, uint64_t* start, uint64_t* end) {
    LARGE_INTEGER size;
    if (start == nullptr || end == nullptr || !GetFileSizeEx(file, &size)) return FALSE;
    const uint64_t total = static_cast<uint64_t>(size.QuadPart);
    *start = *end = total;
    if (offset >= total) return TRUE;
    FILE_ALLOCATED_RANGE_BUFFER asked, found;
    asked.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    asked.Length.QuadPart = static_cast<LONGLONG>(total - offset);
    DWORD returned = 0;
    if (!DeviceIoControl(file, FSCTL_QUERY_ALLOCATED_RANGES, &asked, sizeof asked, &found,
                         sizeof found, &returned, nullptr) &&
        GetLastError() != ERROR_MORE_DATA)
        return FALSE;
    if (returned < sizeof found) return TRUE;
    const uint64_t first = static_cast<uint64_t>(found.FileOffset.QuadPart);
    *start = std::max(first, offset);
    *end = std::min(first + static_cast<uint64_t>(found.Length.QuadPart), total);
    return TRUE;
}

BOOL allowHoles(HANDLE file) {
    DWORD returned = 0;
    return DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

BOOL skipTo(HANDLE source, HANDLE target, uint64_t offset) {
    return moveTo(source, offset) && moveTo(target, offset);
}

BOOL setFileSize(HANDLE file, uint64_t size) {
    return moveTo(file, size) && SetEndOfFile(file);
}

}  // namespace platform
