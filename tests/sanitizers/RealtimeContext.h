#pragma once

// Marks a stretch of code as real-time for RealtimeSanitizer: inside it, every allocation, free,
// lock, sleep or file operation is reported and ends the process. Without the sanitizer's runtime
// (PENDULUM_RTSAN undefined) the marks do nothing.
#if defined(PENDULUM_RTSAN)
extern "C" void __rtsan_realtime_enter();
extern "C" void __rtsan_realtime_exit();
#endif

class ScopedRealtimeContext
{
public:
    ScopedRealtimeContext()
    {
#if defined(PENDULUM_RTSAN)
        __rtsan_realtime_enter();
#endif
    }

    ~ScopedRealtimeContext()
    {
#if defined(PENDULUM_RTSAN)
        __rtsan_realtime_exit();
#endif
    }

    ScopedRealtimeContext(const ScopedRealtimeContext&) = delete;
    ScopedRealtimeContext& operator=(const ScopedRealtimeContext&) = delete;
};
