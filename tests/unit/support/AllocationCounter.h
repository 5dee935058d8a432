#pragma once

#include <cstddef>

/**
    Counts heap allocations (operator new, malloc, calloc, realloc) made by the current thread while
    a ScopedAllocationCount is alive.
*/
class ScopedAllocationCount
{
public:
    ScopedAllocationCount();
    ~ScopedAllocationCount();

    std::size_t allocations() const noexcept;

    /**
        Whether allocations are counted at all: on glibc without a sanitizer, where the test
        executable replaces operator new and malloc. Tests skip themselves where it is not.
    */
    static bool isAvailable() noexcept;

    ScopedAllocationCount(const ScopedAllocationCount&) = delete;
    ScopedAllocationCount& operator=(const ScopedAllocationCount&) = delete;
};
