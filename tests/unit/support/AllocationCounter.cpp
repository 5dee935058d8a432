#include "support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local bool counting = false;
thread_local std::size_t count = 0;
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
// sanitizers replace the allocator themselves; under them nothing is replaced and nothing counted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace
{
void* allocate(std::size_t size)
{
    // Counted by malloc.
    if (auto* memory = std::malloc(size == 0 ? 1 : size))
        return memory;

    throw std::bad_alloc();
}
} // namespace

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

bool ScopedAllocationCount::isAvailable() noexcept
{
    return true;
}

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
#else
bool ScopedAllocationCount::isAvailable() noexcept
{
    return false;
}
#endif
