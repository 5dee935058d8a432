// Slots whose plugin runs in a helper process: the option, the choice of loader, the switch inside
// the block in which a helper fails (audio thread) and what the message thread does afterwards.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/VSTP2PluginLoader.h"
#include "isolation/IsolatedPluginInstance.h"
#include "isolation/IsolatedPluginLoader.h"

void PluginContainerAudioProcessor::failOverInBlock(size_t failed, juce::AudioBuffer<float>& buffer,
                                                    const juce::AudioBuffer<float>* standbyPlayed) noexcept
{
    pluginCrashed[failed].store(true);

    const auto other = 1 - failed;
    const bool canPlay = pluginLoaders[other] != nullptr && !pluginCrashed[other].load()
                      && (isolatedInstances[other] == nullptr || !isolatedInstances[other]->getConnection().failed());

    if (!options[optionAutoSwitch].load() || !canPlay)
        return;

    activePluginIndex.store((int) other, std::memory_order_release);
    catchUpPending[other].store(false, std::memory_order_relaxed);

    // A hot standby has played this block already, with every note: its output is the block's.
    if (standbyPlayed != nullptr)
    {
        const auto channels = juce::jmin(buffer.getNumChannels(), standbyPlayed->getNumChannels());
        for (int channel = 0; channel < channels; ++channel)
            buffer.copyFrom(channel, 0, *standbyPlayed, channel, 0, buffer.getNumSamples());
        return;
    }

    // Otherwise the other slot takes over in this block, from the notes and controllers the stream
    // holds at its end (this block's events are in the tracker already).
    catchUpMidi.clear();
    midiState.writeCatchUp(catchUpMidi, 0);
    // What its delay still holds is from its last turn as the active slot.
    if (auto& delay = outputDelays[other])
        delay->clear();

    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        buffer.clear(channel, 0, buffer.getNumSamples());
    renderSlot(other, buffer, catchUpMidi);

    if (auto* isolated = isolatedInstances[other]; isolated != nullptr && isolated->getConnection().failed())
        pluginCrashed[other].store(true);
}

std::unique_ptr<GenericAudioPluginLoader> PluginContainerAudioProcessor::makeLoader(int slot) const
{
    // A reload whose plugin was started in the background takes that one (see recoverPlugin).
    if (auto& started = startedLoaders[(size_t) slot])
        return std::move(started);

    if (separateProcesses.load())
        return std::make_unique<pendulum::isolation::IsolatedPluginLoader>();

    auto loader = std::make_unique<VSTP2PluginLoader>();
    loader->setScanWorkerPath("ScanWorker64.exe");
    return loader;
}

void PluginContainerAudioProcessor::setRunInSeparateProcesses(bool on)
{
    if (separateProcesses.exchange(on) == on)
        return;
    logLine(on ? ":plugins loaded from now on run in separate processes"
               : ":plugins loaded from now on run in this process");
    refreshEditorPanel();
}

void PluginContainerAudioProcessor::setHangLimitMs(int milliseconds)
{
    hangLimitMs = juce::jlimit(10, 60000, milliseconds);
    const juce::ScopedLock lock(slotLock);
    for (auto* isolated : isolatedInstances)
        if (isolated != nullptr)
            isolated->getConnection().setHangLimitMs(hangLimitMs.load());
}

bool PluginContainerAudioProcessor::isSlotIsolated(int slot) const
{
    const juce::ScopedLock lock(slotLock);
    return isolatedInstances[(size_t) slot] != nullptr;
}

juce::String PluginContainerAudioProcessor::getFailureCause(int slot) const
{
    return failureCauses[(size_t) slot];
}

bool PluginContainerAudioProcessor::reportIsolatedFailure(int slot)
{
    auto* instance = isolatedInstances[(size_t) slot];
    if (instance == nullptr || !instance->getConnection().hasEnded() || failureReported[(size_t) slot] == instance)
        return false;
    failureReported[(size_t) slot] = instance;

    const auto cause = instance->getConnection().failureCause();
    failureCauses[(size_t) slot] = cause;
    pluginCrashed[(size_t) slot] = true;

    consolePrint("Warning: plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + " seems to have crashed");
    consolePrint("Plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + ": its process ended: " + cause);

    // No block ran since (the host stopped processing, or the slot was not the active one): the
    // switch happens here.
    const int other = 1 - slot;
    if (slot == activePluginIndex.load() && getOption(optionAutoSwitch) && getPluginInstance(other) != nullptr
        && !pluginCrashed[(size_t) other].load())
        setActivePlugin(other);

    const bool playingOther = activePluginIndex.load() != slot && getPluginInstance(other) != nullptr;
    recordEvent("slot " + slotNumber(slot) + " crashed (" + cause + ")"
                + (playingOther ? "; playing slot " + slotNumber(other) : juce::String()));
    refreshEditorPanel();
    return true;
}

void PluginContainerAudioProcessor::isolatedSlotFailed(int slot, const pendulum::isolation::IsolatedPluginInstance* instance)
{
    // Only the plugin the slot still holds: an unloaded or replaced one's end is old news (and a
    // watchdog tick that came first has reported it already).
    if (instance == nullptr || isolatedInstances[(size_t) slot] != instance || !reportIsolatedFailure(slot))
        return;

    // Brought back as the watchdog brings back any crashed slot, through the crash-loop guard,
    // unless a load or restore is in the middle of a change (the watchdog comes back to it then).
    if (!getOption(optionAutoCrashRecovery) || isBusy())
        return;

    recoverAfterCrash(slot);
}
