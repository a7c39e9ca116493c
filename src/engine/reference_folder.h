#pragma once

#include <string>

// Mirrors (or verifies) every folder that a shortcut in the open reference
// folder listing names, into or out of the other side. 0 when every entry
// was handled, 1 as soon as a walk failed.
int runReferenceFolder(int mode);

// The folder a reference argument ("@folder") names, ending in the
// separator that its shortcut names follow.
std::string referenceFolderOf(const char* argument);
