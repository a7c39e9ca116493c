// Looking up one file's record by its name, for a copy or a comparison that
// cannot read it from an open handle.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"

// Fills the record from a listing of the name; all zero when not found.
void lookupFileInfo(BY_HANDLE_FILE_INFORMATION& record, const char* name);

// The size a record tells, both halves joined.
inline uint64_t fileSize(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}
