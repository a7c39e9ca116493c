#pragma once

// Carries out the run in the given mode; returns 0 when it ran to its end
// and the end-of-run report was written, 1 when it was abandoned.
int runDriver(int mode);

// Before a synchronize walk: makes a missing target root, or ends the run
// when the target cannot be used.
void checkTargetFolder(const char* sourcePattern, const char* targetPattern, int mode);

// One source and target pair: the verify walk, or the target folder check
// and the synchronize walk.
int walkFolderPair(const char* sourcePattern, const char* targetPattern, int mode);
