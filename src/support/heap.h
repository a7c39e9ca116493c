// Every heap block of the program comes from here, so that tests can make
// the heap refuse a request and watch the program's answer to it.
#pragma once

#include <cstddef>

void* heapAllocate(size_t size);  // null when refused
void* heapAllocateZeroed(size_t count, size_t size);
void heapFree(void* block);
// Grows (or shrinks) a block, keeping its contents; null when refused, the
// block then left as it was. Large blocks move without being copied.
void* heapReallocate(void* block, size_t size);

// Test hook: refuse every request of at least `minimumSize` bytes once
// `skip` more requests of that size have been granted; a negative skip
// turns refusals off.
void setHeapRefusal(int skip, size_t minimumSize = 0);
