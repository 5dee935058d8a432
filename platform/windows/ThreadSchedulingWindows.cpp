#include "platform/ThreadScheduling.h"

#include <windows.h>

namespace pendulum::platform
{
ThreadScheduling currentThreadScheduling() noexcept
{
    ThreadScheduling scheduling;
    const int priority = GetThreadPriority(GetCurrentThread());
    if (priority == THREAD_PRIORITY_ERROR_RETURN)
        return scheduling;
    scheduling.priority = priority;
    scheduling.known = true;
    return scheduling;
}

bool applyThreadScheduling(const ThreadScheduling& scheduling) noexcept
{
    if (!scheduling.known)
        return false;
    return SetThreadPriority(GetCurrentThread(), scheduling.priority) != 0;
}
} // namespace pendulum::platform
