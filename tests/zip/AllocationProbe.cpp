#include "zip/AllocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> gLargest{0};
}

namespace zelto::test {
void ResetLargestAllocation() { gLargest = 0; }
std::size_t LargestAllocation() { return gLargest.load(); }
}  // namespace zelto::test

// The replaced global allocation functions (kept in a file of their own, away from their callers).
void* operator new(std::size_t n) {
    std::size_t seen = gLargest.load();
    while (n > seen && !gLargest.compare_exchange_weak(seen, n)) {
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
