#pragma once

#include <cstdint>

#if defined(__SSE__) || defined(_M_X64)
 #include <xmmintrin.h>
#endif

// How a thread is scheduled, taken from one thread and given to another, possibly in another
// process: a helper's processing thread runs with the priority of the host's audio thread that
// waits for it, so a real-time host does not wait on a thread of ordinary priority.

namespace pendulum::platform
{
/**
    A thread's scheduling: on Linux the policy (SCHED_OTHER, SCHED_FIFO, SCHED_RR) and its
    priority; on Windows the thread priority (policy 0). `known` is false where it could not be read.
*/
struct ThreadScheduling
{
    std::int32_t policy = 0;
    std::int32_t priority = 0;
    bool known = false;
};

/** The calling thread's scheduling. One system call; no allocation, no lock. */
ThreadScheduling currentThreadScheduling() noexcept;

/**
    Gives the calling thread that scheduling. False where the system refuses it (a real-time policy
    needs a right the process may not have); the thread keeps what it had then.
*/
bool applyThreadScheduling(const ThreadScheduling& scheduling) noexcept;

/**
    The calling thread's floating-point status word (MXCSR on x86: rounding, and whether
    denormals are flushed to zero), 0 where there is none to take over. One instruction.
*/
inline std::uint32_t floatingPointStatus() noexcept
{
#if defined(__SSE__) || defined(_M_X64)
    return _mm_getcsr();
#else
    return 0;
#endif
}

/** Gives the calling thread that floating-point status word (see floatingPointStatus). */
inline void setFloatingPointStatus(std::uint32_t status) noexcept
{
#if defined(__SSE__) || defined(_M_X64)
    // The exception flags are sticky results, not settings: only the control bits are taken.
    constexpr std::uint32_t exceptionFlags = 0x3f;
    const auto current = _mm_getcsr();
    if ((current & ~exceptionFlags) != (status & ~exceptionFlags))
        _mm_setcsr((current & exceptionFlags) | (status & ~exceptionFlags));
#else
    (void) status;
#endif
}
} // namespace pendulum::platform
