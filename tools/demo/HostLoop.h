#pragma once

// The host's side of the plugin's message loop, and real-time pacing of rendered blocks.
//
// On Windows a plugin's message thread is the thread that loaded it: its timers (the crash
// watchdog among them) and posted messages run only while the host dispatches that thread's
// messages. On Linux the plugin runs a message thread of its own and the host only lets time pass.
#include <chrono>
#include <functional>

namespace pendulum::demo
{

/** Dispatches the host thread's pending window messages (Windows); nothing elsewhere. */
void dispatchPendingMessages();

/** Runs the event loop for the given time. */
void runEventLoop(std::chrono::milliseconds duration);

/** Runs the event loop until the condition holds or the time is up; the condition's last answer. */
bool runEventLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

/**
    Keeps rendering at the pace of a sound card: block n is due at start + n * block duration, and
    until then the host runs its event loop. Audio time and wall-clock time then stay within one
    block of each other, which is what a timer-driven watchdog inside the plugin needs to behave
    as it does in a DAW.
*/
class RealTimePacer
{
public:
    RealTimePacer(double sampleRate, int blockSize);

    /** Runs the event loop until block `index` is due. */
    void waitForBlock(long long index);

    /** How far wall-clock time is ahead of the audio rendered so far, in milliseconds (>= 0 when late). */
    double lagMs(long long blocksRendered) const;

private:
    std::chrono::steady_clock::time_point start;
    std::chrono::duration<double> blockDuration;
};

} // namespace pendulum::demo
