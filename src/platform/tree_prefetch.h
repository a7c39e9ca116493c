// Reading a tree's metadata ahead of the walk that will list it.
#pragma once

#include <vector>

namespace platform {

// Reads the metadata of the tree under `folder` ahead of a walk, on a
// background thread, and changes nothing; stopping it waits for that thread.
// Null where the platform gains nothing from it (or cannot start a thread).
// A tree the walk does not list (a verify opens the target's files by the
// source's names) is read in step with the walk of `pacedBy`'s tree.
class TreePrefetch;
TreePrefetch* startTreePrefetch(const char* folder, const TreePrefetch* pacedBy = nullptr);
void stopTreePrefetch(TreePrefetch* prefetch);

// Tells that the files `names` in `folder` (a path ending in a separator)
// are about to be read through, in that order: where the read-ahead found
// the tree's cache cold, their first blocks are asked for at once.
void expectReads(const char* folder, const std::vector<const char*>& names);

}  // namespace platform
