// Windows reads directory metadata with the listing itself; there is nothing
// to read ahead.
#include "platform/tree_prefetch.h"

namespace platform {

TreePrefetch* startTreePrefetch(const char*, const TreePrefetch*) { return nullptr; }
void stopTreePrefetch(TreePrefetch*) {}
void expectReads(const char*, const std::vector<const char*>&) {}

}  // namespace platform
