// Giving a file already in the target one more name: the target side of a
// source file that has several names.
#pragma once

// Makes `target` a hard link to `existing` (both target paths), replacing
// whatever file stood under `target` the way a copy does: the link is made
// under a name beside it and takes its place in one rename. Logs and counts
// it as a file processed, without bytes. False, with nothing changed or
// reported, when it cannot be done; the caller copies the file instead,
// which reports what goes wrong.
bool linkFile(const char* existing, const char* target);
