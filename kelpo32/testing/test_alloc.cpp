// The allocator of the walk's test program: fails on demand, else malloc.
#include "kelpo32/testing/memory_source.h"

#include <cstdlib>
#include <new>

thread_local int kelpo32::testing::FailAllocations = 0;
thread_local int kelpo32::testing::PassAllocations = 0;

void* operator new(std::size_t size) {
    if (kelpo32::testing::FailAllocations > 0 && kelpo32::testing::PassAllocations > 0) {
        --kelpo32::testing::PassAllocations;
    } else if (kelpo32::testing::FailAllocations > 0) {
        --kelpo32::testing::FailAllocations;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

// Every other form goes the same way, so that nothing allocated by one
// allocator is freed by the other.
void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}

void operator delete[](void* p) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
