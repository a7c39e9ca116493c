#pragma once

#include <cstdint>
#include <functional>

// Compares one source file with its target by size, then byte by byte.
// 1: equal, or missing, or busy, or the source could not be read; 0: any
// other difference or failure.
int verifyFile(const char* source, const char* target);

// Two blocks of 131 072 bytes that only one comparison uses at a time.
struct PairBlocks {
    char* source;
    char* target;
};

// The work of verifyFile for an equal pair, without a word to the log, the
// counters or the display, so that another thread may do it: true when both
// files open at the first attempt and hold the same bytes. Anything else
// (a difference, a busy or missing file, an error) is false, and verifyFile
// is left to find and report it. `stop`, asked before each block, ends the
// comparison with false. `size` is set to the bytes compared.
bool pairMatches(const char* source, const char* target, PairBlocks blocks,
                 const std::function<bool()>& stop, uint64_t& size);
// Counts and lists a pair pairMatches found equal, as verifyFile would.
void countMatchedPair(const char* source, const char* target, uint64_t size);
