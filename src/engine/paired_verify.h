// Verifies the files of one folder on two processors: a second thread
// compares pairs beside the walk's own thread, and the walk reports every
// pair in listing order, as if it had compared them all itself.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/windows_api.h"

class SearchPattern;

struct FileToVerify {
    const char* name;
    uint64_t listedSize;  // decides only what is shared, never the result
    DWORD listedAttributes;  // what the source's listing showed it to be
};

void verifyFolderFiles(SearchPattern& source, SearchPattern& target,
                       const std::vector<FileToVerify>& files);

// Pairs, and parts of long pairs, that the side thread has compared since
// the process started.
uint64_t pairsComparedBeside();
