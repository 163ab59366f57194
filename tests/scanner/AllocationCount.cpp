// Counts the blocks this test program holds through operator new, so that a
// test can see that repeated scans give back every bitmap and buffer the
// scanner code takes. SANE itself allocates with malloc and is not counted.

#include "AllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> Live{0};
}

long long LiveAllocations()
{
    return Live.load();
}

void* operator new(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    ++Live;
    return p;
}

void operator delete(void* p) noexcept
{
    if (p) {
        --Live;
        std::free(p);
    }
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
