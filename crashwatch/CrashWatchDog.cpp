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
    watchdog->retime();
}

void CrashWatchDog::watchPeriodChanged()
{
    if (watchdog != nullptr)
        watchdog->retime();
}

void CrashWatchDog::retime()
{
    int smallest = periodMs;
    for (auto* container : watchedProcessors)
        smallest = juce::jmin(smallest, container->getWatchPeriodMs());

    if (smallest == tickPeriodMs)
        return;

    tickPeriodMs = smallest;
    if (isTimerRunning())
        startTimer(tickPeriodMs);
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
    else
        watchdog->retime();
}

void CrashWatchDog::timerCallback()
{
    // A dialog opened by a tick runs a nested loop in which the framework may deliver this timer
    // again: a tick never nests, the outer one finishes first.
    if (ticking)
        return;

    const juce::WeakReference<CrashWatchDog> self(this);
    ticking = true;

    // First every container is probed and switched away from a crashed plugin, so no container
    // waits for another's reload; then the crashed slots are reloaded.
    juce::Array<juce::WeakReference<PluginContainerAudioProcessor>> containers;
    std::vector<std::array<bool, 2>> crashedNow;

    for (tickPosition = 0; tickPosition < watchedProcessors.size(); ++tickPosition)
    {
        auto* container = watchedProcessors.getUnchecked(tickPosition);
        containers.add(container);
        crashedNow.push_back(probeAndSwitch(*container));
    }

    tickPosition = -1;

    for (int i = 0; i < containers.size(); ++i)
    {
        if (auto* container = containers.getReference(i).get())
            recoverCrashed(*container, crashedNow[(size_t) i]);

        // The last container went away during a reload, and this watchdog with it.
        if (self == nullptr)
            return;
    }

    ticking = false;
}

std::array<bool, 2> CrashWatchDog::probeAndSwitch(PluginContainerAudioProcessor& container)
{
    using Processor = PluginContainerAudioProcessor;

    const bool loaded[2] = { container.getPluginInstance(0) != nullptr, container.getPluginInstance(1) != nullptr };

    // Failures the audio thread found in blocks (it has switched already) are told first, so the
    // probe does not tell them again; offline, the active slot is the rendering thread's to ask
    // and to switch.
    auto crashed = container.reportBlockFailures();
    const bool leftToRendering = container.isActiveSlotProbedWhileRendering();
    const int renderingSlot = leftToRendering ? container.getActivePluginIndex() : -1;
    for (int slot = 0; slot < Processor::numSlots; ++slot)
        if (!crashed[(size_t) slot])
        {
            // The rendering thread asks the slot it renders; a crashed helper of that slot is told
            // here first, once its end is known, before any recovery.
            if (slot != renderingSlot)
                crashed[(size_t) slot] = container.probePluginCrash(slot);
            else if (container.isPluginCrashed(slot) && container.isSlotIsolated(slot))
                crashed[(size_t) slot] = container.probePluginCrash(slot);
            else
                crashed[(size_t) slot] = container.isPluginCrashed(slot);
        }

    // One found in a block while the probe ran is told before its slot is recovered.
    const auto foundMeanwhile = container.reportBlockFailures();
    for (size_t slot = 0; slot < crashed.size(); ++slot)
        crashed[slot] = crashed[slot] || foundMeanwhile[slot];

    const int active = container.getActivePluginIndex();
    const int other = 1 - active;

    if (!leftToRendering && loaded[active] && container.isPluginCrashed(active) && loaded[other]
        && !container.isPluginCrashed(other) && container.getOption(Processor::optionAutoSwitch))
        container.setActivePlugin(other);

    return crashed;
}

void CrashWatchDog::recoverCrashed(PluginContainerAudioProcessor& container, std::array<bool, 2> crashed)
{
    using Processor = PluginContainerAudioProcessor;
    const juce::WeakReference<Processor> alive(&container);

    if (!container.getOption(Processor::optionAutoCrashRecovery))
        return;

    // A load, recovery or restore of this container is waiting for a dialog: its slots are in
    // the middle of a change. The marks stay, and a later tick comes back to them.
    if (container.isBusy())
        return;

    for (int slot = 0; slot < Processor::numSlots; ++slot)
    {
        if (!crashed[(size_t) slot])
            continue;

        // The watchdog never asks anybody: a reload that needs an answer leaves the slot marked.
        // The crash-loop guard decides whether, when and with which snapshot (a slot whose reload
        // waits, or that it gave up on, is crashed in every tick: those ticks do nothing).
        alive->recoverAfterCrash(slot);

        if (alive == nullptr)
            return;
    }
}
