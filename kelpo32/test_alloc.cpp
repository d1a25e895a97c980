// The allocator of the walk's test program: fails on demand, else malloc.
// The library's other forms of new go through this one and free with free().
#include "kelpo32/memory_source.h"

#include <cstdlib>
#include <new>

thread_local int kelpo32::testing::FailAllocations = 0;

void* operator new(std::size_t size) {
    if (kelpo32::testing::FailAllocations > 0) {
        --kelpo32::testing::FailAllocations;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
