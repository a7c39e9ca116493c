// Copies the new files of one folder on two processors: a second thread
// copies files beside the walk's own thread, and the walk then reports every
// file in listing order, as if it had copied them all itself.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/link_groups.h"

class SearchPattern;

struct FileToCopy {
    const char* name;
    uint64_t listedSize;           // decides only what is shared
    const FileIdentity* linkedTo;  // a file with other names, or null
    bool replacing;                // an older copy is in the target
};

void copyFolderFiles(SearchPattern& source, SearchPattern& target,
                     const std::vector<FileToCopy>& files);

// Files the side thread has copied since the process started.
uint64_t filesCopiedBeside();
