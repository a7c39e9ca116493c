// Reading a tree's metadata ahead of the walk that will list it.
#pragma once

namespace platform {

// Reads the metadata of the tree under `folder` ahead of a walk, on a
// background thread, and changes nothing; stopping it waits for that thread.
// Null where the platform gains nothing from it (or cannot start a thread).
class TreePrefetch;
TreePrefetch* startTreePrefetch(const char* folder);
void stopTreePrefetch(TreePrefetch* prefetch);

}  // namespace platform
