// Files with holes: stretches the file system keeps no data for, which read
// as zeros. A copy that writes them as zeros fills the disk with nothing.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"

namespace platform {

// Whether the open file takes less room on disk than its size: only then is
// it worth asking where its data lies.
bool hasHoles(HANDLE file);

// The first stretch of data at or after `offset` in the open file:
// [*start, *end). Past the last data both are the file's size. FALSE when
// the system cannot tell; the caller then takes the rest as data.
BOOL findData(HANDLE file, uint64_t offset, uint64_t* start, uint64_t* end);

// Makes the file being written able to hold holes (Windows needs to be told
// first; elsewhere every file can).
BOOL allowHoles(HANDLE file);

// Moves the positions of both open files to `offset`, so that what the
// target skips stays a hole.
BOOL skipTo(HANDLE source, HANDLE target, uint64_t offset);

// Gives the file being written its exact size: one that ends in a hole has
// no data written up to its end.
BOOL setFileSize(HANDLE file, uint64_t size);

}  // namespace platform
