#include "HostLoop.h"

#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace pendulum::demo
{

namespace
{
using Clock = std::chrono::steady_clock;
constexpr auto kSliceLength = std::chrono::milliseconds(2);
} // namespace

void dispatchPendingMessages()
{
#if defined(_WIN32)
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
#endif
}

void runEventLoop(std::chrono::milliseconds duration)
{
    const auto end = Clock::now() + duration;
    do
    {
        dispatchPendingMessages();
        const auto left = end - Clock::now();
        std::this_thread::sleep_for(left < kSliceLength ? left : Clock::duration(kSliceLength));
    } while (Clock::now() < end);
}

bool runEventLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (!condition())
    {
        if (Clock::now() >= end)
            return condition();
        runEventLoop(std::chrono::milliseconds(10));
    }
    return true;
}

RealTimePacer::RealTimePacer(double sampleRate, int blockSize)
    : due(Clock::now()), blockDuration(static_cast<double>(blockSize) / sampleRate)
{
}

void RealTimePacer::waitForNextBlock()
{
    do
    {
        dispatchPendingMessages();
        const auto left = due - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        std::this_thread::sleep_for(left < kSliceLength ? left : Clock::duration(kSliceLength));
    } while (true);

    const auto now = Clock::now();
    const std::chrono::duration<double> late = now - due;
    if (late > blockDuration)
    {
        lost += late;
        due = now;
    }
    due += std::chrono::duration_cast<Clock::duration>(blockDuration);
}

} // namespace pendulum::demo
