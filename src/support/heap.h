// Every heap block of the program comes from here, so that tests can make
// the heap refuse a request and watch the program's answer to it.
#pragma once

#include <cstddef>

void* heapAllocate(size_t size);  // null when refused
void* heapAllocateZeroed(size_t count, size_t size);
void heapFree(void* block);

// Test hook: refuse every request of at least `minimumSize` bytes once
// `skip` more requests of that size have been granted; a negative skip
// turns refusals off.
void setHeapRefusal(int skip, size_t minimumSize = 0);
