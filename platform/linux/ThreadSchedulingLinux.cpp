#include "platform/ThreadScheduling.h"

#include <pthread.h>
#include <sched.h>

namespace pendulum::platform
{
ThreadScheduling currentThreadScheduling() noexcept
{
    ThreadScheduling scheduling;
    int policy = 0;
    sched_param parameters {};
    if (pthread_getschedparam(pthread_self(), &policy, &parameters) != 0)
        return scheduling;
    // A host given real time by a system service may carry the reset-on-fork flag: not a policy.
#ifdef SCHED_RESET_ON_FORK
    policy &= ~SCHED_RESET_ON_FORK;
#endif
    scheduling.policy = policy;
    scheduling.priority = parameters.sched_priority;
    scheduling.known = true;
    return scheduling;
}

bool applyThreadScheduling(const ThreadScheduling& scheduling) noexcept
{
    if (!scheduling.known)
        return false;
    const int policy = scheduling.policy;
    if (policy != SCHED_OTHER && policy != SCHED_FIFO && policy != SCHED_RR)
        return false;
    sched_param parameters {};
    parameters.sched_priority = policy == SCHED_OTHER ? 0 : scheduling.priority;
    if (parameters.sched_priority < sched_get_priority_min(policy) || parameters.sched_priority > sched_get_priority_max(policy))
        return false;
    return pthread_setschedparam(pthread_self(), policy, &parameters) == 0;
}
} // namespace pendulum::platform
