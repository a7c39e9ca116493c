#include "support/heap.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<int> grantsLeft{-1};
std::atomic<size_t> refusalSize{0};

bool refuse(size_t size) {
    if (grantsLeft.load() < 0 || size < refusalSize.load()) return false;
    if (grantsLeft.load() == 0) return true;
    --grantsLeft;
    return false;
}
}  // namespace

void* heapAllocate(size_t size) { return refuse(size) ? nullptr : std::malloc(size); }

void* heapAllocateZeroed(size_t count, size_t size) {
    return refuse(count * size) ? nullptr : std::calloc(count, size);
}

void heapFree(void* block) { std::free(block); }

void* heapReallocate(void* block, size_t size) {
    return refuse(size) ? nullptr : std::realloc(block, size);
}

void setHeapRefusal(int skip, size_t minimumSize) {
    refusalSize = minimumSize;
    grantsLeft = skip;
}
