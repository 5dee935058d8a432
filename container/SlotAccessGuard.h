#pragma once

#include <atomic>
#include <thread>

/**
    A reader-writer guard for the host's parameter calls against changes of the slots.

    Hosts send parameter calls from the audio thread or from worker threads, without any lock of
    the wrapper. Readers (the parameter forwarders) hold the guard for the length of one call into
    the hosted plugin; the writer (a change of the slots on the message thread) holds it only while
    it moves an owning pointer or the active index, never while a plugin is created, prepared or
    destroyed. A reader therefore waits at most for a pointer move, and a writer at most for the
    parameter calls in flight; the plugin a writer takes out of a slot is destroyed after it has
    let go, when no reader can still be using it.

    Readers never block each other. A waiting writer keeps new readers out, so a stream of
    parameter calls cannot starve it. Lock-free and allocation-free; writers must not nest.
*/
class SlotAccessGuard
{
public:
    class ReadScope
    {
    public:
        explicit ReadScope(SlotAccessGuard& g) noexcept : guard(g) { guard.beginRead(); }
        ~ReadScope() { guard.endRead(); }
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;

    private:
        SlotAccessGuard& guard;
    };

    class WriteScope
    {
    public:
        explicit WriteScope(SlotAccessGuard& g) noexcept : guard(g) { guard.beginWrite(); }
        ~WriteScope() { guard.endWrite(); }
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;

    private:
        SlotAccessGuard& guard;
    };

    void beginRead() noexcept
    {
        for (int spins = 0;; ++spins)
        {
            auto current = state.load(std::memory_order_relaxed);

            if ((current & writerBit) == 0
                && state.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed))
                return;

            backOff(spins);
        }
    }

    void endRead() noexcept { state.fetch_sub(1, std::memory_order_release); }

    void beginWrite() noexcept
    {
        // Announce the writer (one at a time), then wait for the readers in flight to leave.
        for (int spins = 0;; ++spins)
        {
            auto current = state.load(std::memory_order_relaxed);

            if ((current & writerBit) == 0
                && state.compare_exchange_weak(current, current | writerBit, std::memory_order_acquire,
                                               std::memory_order_relaxed))
                break;

            backOff(spins);
        }

        for (int spins = 0; state.load(std::memory_order_acquire) != writerBit; ++spins)
            backOff(spins);
    }

    void endWrite() noexcept { state.fetch_and(~writerBit, std::memory_order_release); }

private:
    static void backOff(int spins) noexcept
    {
        if (spins > 64)
            std::this_thread::yield();
    }

    static constexpr unsigned writerBit = 1u << 31;
    std::atomic<unsigned> state { 0 };
};
