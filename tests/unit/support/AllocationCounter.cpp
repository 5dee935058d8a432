#include "support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local bool counting = false;
thread_local std::size_t count = 0;

void* allocate(std::size_t size)
{
    // Counted here when malloc below does not count it itself.
    if (counting && !ScopedAllocationCount::seesMalloc())
        ++count;

    if (auto* memory = std::malloc(size == 0 ? 1 : size))
        return memory;

    throw std::bad_alloc();
}
} // namespace

ScopedAllocationCount::ScopedAllocationCount()
{
    count = 0;
    counting = true;
}

ScopedAllocationCount::~ScopedAllocationCount()
{
    counting = false;
}

std::size_t ScopedAllocationCount::allocations() const noexcept
{
    return count;
}

// JUCE's heap blocks use malloc and realloc directly, so on glibc those are counted too. The
// sanitizers interpose malloc themselves; under them only operator new is counted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C"
{
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);

void* malloc(std::size_t size)
{
    if (counting)
        ++count;
    return __libc_malloc(size);
}

void* calloc(std::size_t items, std::size_t size)
{
    if (counting)
        ++count;
    return __libc_calloc(items, size);
}

void* realloc(void* memory, std::size_t size)
{
    if (counting)
        ++count;
    return __libc_realloc(memory, size);
}
}

bool ScopedAllocationCount::seesMalloc() noexcept
{
    return true;
}
#else
bool ScopedAllocationCount::seesMalloc() noexcept
{
    return false;
}
#endif

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    return allocate(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
