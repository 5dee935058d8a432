#include "crashwatch/CrashWatchDog.h"

#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"

std::unique_ptr<CrashWatchDog> watchdog;

CrashWatchDog::CrashWatchDog()
{
    startTimer(periodMs);
}

CrashWatchDog::~CrashWatchDog()
{
    stopTimer();
}

void CrashWatchDog::registerContainer(PluginContainerAudioProcessor& container)
{
    if (watchdog == nullptr)
        watchdog = std::make_unique<CrashWatchDog>();

    watchdog->watchedProcessors.addIfNotAlreadyThere(&container);
}

void CrashWatchDog::unregisterContainer(PluginContainerAudioProcessor& container)
{
    if (watchdog == nullptr)
        return;

    auto& list = watchdog->watchedProcessors;
    const auto index = list.indexOf(&container);

    if (index >= 0)
    {
        list.remove(index);

        // A tick in progress keeps its place: the next container has moved into this one's.
        if (index <= watchdog->tickPosition)
            --watchdog->tickPosition;
    }

    consolePrint("watchdog->getNumberOfPluginsBeingWatched():" + juce::String(list.size()));

    if (list.isEmpty())
        watchdog.reset();
}

void CrashWatchDog::timerCallback()
{
    const juce::WeakReference<CrashWatchDog> self(this);

    for (tickPosition = 0; tickPosition < watchedProcessors.size(); ++tickPosition)
    {
        tickContainer(*watchedProcessors.getUnchecked(tickPosition));

        // The last container went away during a dialog, and this watchdog with it.
        if (self == nullptr)
            return;
    }

    tickPosition = -1;
}

void CrashWatchDog::tickContainer(PluginContainerAudioProcessor& container)
{
    using Processor = PluginContainerAudioProcessor;
    const juce::WeakReference<Processor> alive(&container);

    const bool loaded[2] = { container.getPluginInstance(0) != nullptr, container.getPluginInstance(1) != nullptr };
    const bool crashed[2] = { container.probePluginCrash(0), container.probePluginCrash(1) };

    const int active = container.getActivePluginIndex();
    const int other = 1 - active;

    if (loaded[active] && container.isPluginCrashed(active) && loaded[other]
        && !container.isPluginCrashed(other) && container.getOption(Processor::optionAutoSwitch))
        container.setActivePlugin(other);

    if (!container.getOption(Processor::optionAutoCrashRecovery))
        return;

    for (int slot = 0; slot < Processor::numSlots; ++slot)
    {
        if (!crashed[slot])
            continue;

        alive->recoverPlugin(slot);

        // A recovery may ask the user for a file; the host may close this container meanwhile.
        if (alive == nullptr)
            return;
    }
}
