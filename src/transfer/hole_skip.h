// The copy of a source with holes: both files move past each hole, so the
// target keeps it as a hole instead of a stretch of written zeros.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"

class HoleSkip {
public:
    // Looks for holes only in a source that takes less room than its size,
    // and only where the target can hold them.
    HoleSkip(HANDLE source, HANDLE target);

    // Before the block at `position`: moves both files past the hole that
    // begins there, if any, and adds its length to `position`. False when
    // the files could not be moved (the last error says why).
    bool passHole(uint64_t& position);
    // The most the block at `position` may ask for: it ends where the data
    // does.
    DWORD cut(uint64_t position, DWORD wanted) const;
    // After the last block: a target that ends in a hole is given its size.
    bool finish(uint64_t size);

private:
    HANDLE source_, target_;
    bool looking_ = false;
    bool skipped_ = false;
    uint64_t dataEnd_ = 0;  // where the data the copy is in ends
};
