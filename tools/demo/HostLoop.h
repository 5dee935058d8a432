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
    Keeps rendering at the pace of a sound card: each block is due one block duration after the one
    before, and until then the host runs its event loop. A block that comes later than one block
    duration after it was due (the machine was busy) starts a new schedule from then instead of being
    caught up by rendering faster: at least as much wall-clock time passes as audio is rendered,
    which is what a timer-driven watchdog inside the plugin needs to behave as it does in a DAW.
*/
class RealTimePacer
{
public:
    RealTimePacer(double sampleRate, int blockSize);

    /** Runs the event loop until the next block is due. */
    void waitForNextBlock();

    /** The wall-clock time by which rendering fell behind and was not caught up, in milliseconds. */
    double lostMs() const noexcept { return lost.count() * 1000.0; }

private:
    std::chrono::steady_clock::time_point due;
    std::chrono::duration<double> blockDuration;
    std::chrono::duration<double> lost{ 0.0 };
};

} // namespace pendulum::demo
