#include "container/DeferredSlotWork.h"

namespace
{
constexpr int retryMs = 40;
}

DeferredSlotWork::DeferredSlotWork(std::function<bool()> isFree) : free(std::move(isFree))
{
}

DeferredSlotWork::~DeferredSlotWork()
{
    stopTimer();
}

void DeferredSlotWork::add(std::function<void()> work)
{
    waiting.push_back(std::move(work));
    startTimer(retryMs);
}

void DeferredSlotWork::timerCallback()
{
    // A piece of work may open a dialog, whose nested loop calls this again: one run at a time.
    if (running || !free())
        return;

    stopTimer();
    auto batch = std::move(waiting);
    waiting.clear();

    // The work may destroy the container, and this object with it: nothing of it is touched after
    // that, so each piece checks its own owner (they hold weak references).
    const juce::WeakReference<DeferredSlotWork> self(this);
    running = true;

    for (auto& work : batch)
    {
        work();

        if (self == nullptr)
            return;
    }

    running = false;

    if (!waiting.empty())
        startTimer(retryMs);
}
