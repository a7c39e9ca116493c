// Copying bytes between two open files inside the kernel.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// Copies up to `count` bytes from the current position of `source` to the
// current position of `target` inside the kernel (copy offload), advancing
// both. TRUE: *copied bytes were copied, fewer than `count` only at the end of
// the source. FALSE: the offload is not available for this pair or stopped
// part way; *copied still tells what was copied (both positions are past it),
// and the caller goes on with plain reads and writes, which report any real
// failure.
BOOL copyFileRange(HANDLE source, HANDLE target, DWORD count, DWORD* copied);

}  // namespace platform
