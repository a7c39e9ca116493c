// One entry per fuzz target, shared by the libFuzzer drivers and the
// regression test that replays saved inputs through the same code.
#pragma once

#include <cstddef>
#include <cstdint>

// Input: switch name, NUL, argument; runs matchFlag, matchNumber, matchText.
void fuzzSwitchMatchers(const uint8_t* data, size_t size);
// Input: a Windows command line.
void fuzzCommandSplitter(const uint8_t* data, size_t size);
// Input: name, NUL, pattern.
void fuzzWildcardMatch(const uint8_t* data, size_t size);
// Input: the contents of an exclude list file, read through "@file".
void fuzzFilterList(const uint8_t* data, size_t size);
// Input: a copy list replayed as a trial run.
void fuzzCopyList(const uint8_t* data, size_t size);
