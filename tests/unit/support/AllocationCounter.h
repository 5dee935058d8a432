#pragma once

#include <cstddef>

/**
    Counts heap allocations made by the current thread while a ScopedAllocationCount is alive.
    The test executable replaces the global operator new to feed it.
*/
class ScopedAllocationCount
{
public:
    ScopedAllocationCount();
    ~ScopedAllocationCount();

    std::size_t allocations() const noexcept;

    /** Whether malloc, calloc and realloc are counted too (glibc, no sanitizer), not only new. */
    static bool seesMalloc() noexcept;

    ScopedAllocationCount(const ScopedAllocationCount&) = delete;
    ScopedAllocationCount& operator=(const ScopedAllocationCount&) = delete;
};
