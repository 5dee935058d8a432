#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <vector>

/**
    Operations of a container that had to wait: an unload, a load, a recovery or a restore that
    came while one of its hosted plugins had a call of ours in progress (see PluginCallTracker).
    They run in the order they came, on the message thread, as soon as the check says the plugins
    are free again; the check is asked every few tens of milliseconds while work waits.

    Message thread only. Destroying it drops what still waits.
*/
class DeferredSlotWork : private juce::Timer
{
public:
    /** isFree: true when the waiting work may run now. */
    explicit DeferredSlotWork(std::function<bool()> isFree);
    ~DeferredSlotWork() override;

    void add(std::function<void()> work);
    bool isEmpty() const noexcept { return waiting.empty(); }

private:
    void timerCallback() override;

    std::function<bool()> free;
    std::vector<std::function<void()>> waiting;
    bool running = false;

    JUCE_DECLARE_WEAK_REFERENCEABLE(DeferredSlotWork)
};
