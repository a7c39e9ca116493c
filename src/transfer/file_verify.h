#pragma once

#include <cstdint>
#include <functional>

#include "platform/windows_api.h"

// Compares one source file with its target by size, then byte by byte.
// 1: equal, or missing, or busy, or the source could not be read; 0: any
// other difference or failure.
int verifyFile(const char* source, const char* target);

// Two blocks the size of the run's transfer buffers, that only one
// comparison uses at a time.
struct PairBlocks {
    char* source;
    char* target;
};

// A pair by its names, with the attributes listings gave each file moments
// ago: where they show a plain file, its open looks at the name no further
// (platform::openListedFile); 0 where nothing listed it.
struct ListedPair {
    const char* source;
    const char* target;
    DWORD sourceAttributes;
    DWORD targetAttributes;
};

// Bytes [from, from + length) of a pair, as far as the files reach.
struct PairPart {
    uint64_t from = 0;
    uint64_t length = UINT64_MAX;
};

// The work of verifyFile for an equal pair, or for a part of one, without a
// word to the log, the counters or the display, so that another thread may
// do it: true when both files open at the first attempt, are of one size
// and hold the same bytes in `part`. Anything else (a difference, a busy or
// missing file, an error) is false, and verifyFile is left to find and
// report it. `stop`, asked before each block, ends the comparison with
// false. `size` is set to the size both files had. The opens ask for no
// read-ahead: the caller announces the reads of its pairs together.
bool pairMatches(const ListedPair& pair, PairBlocks blocks, const std::function<bool()>& stop,
                 PairPart part, uint64_t& size);
// Counts and lists a pair pairMatches found equal, as verifyFile would.
void countMatchedPair(const char* source, const char* target, uint64_t size);
