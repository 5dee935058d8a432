// Failures the container finds in the audio itself: the crash query asked on the rendering thread
// while the host renders offline, and the output health check. Both switch in the block on the
// audio thread; the message thread tells them (at the watchdog's tick) and recovers the slot.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/CrashQuery.h"
#include "hosting/EffectHandle.h"
#include "hosting/GenericAudioPluginLoader.h"
#include "isolation/IsolatedPluginInstance.h"

void PluginContainerAudioProcessor::setOutputHealthCheck(bool on)
{
    if (outputHealthOption.exchange(on) == on)
        return;
    logLine(juce::String(":output health check ") + (on ? "on" : "off"));
    refreshEditorPanel();
}

bool PluginContainerAudioProcessor::isActiveSlotProbedWhileRendering() const
{
    const auto active = (size_t) activePluginIndex.load();
    return isNonRealtime() && pluginLoaders[active] != nullptr;
}

void PluginContainerAudioProcessor::markFailedInBlock(size_t slot, BlockFailure cause, double stuckMs) noexcept
{
    // A plugin marked crashed already has been told, or will be, once: a plugin that goes on
    // failing until it is reloaded is no news at every block.
    if (pluginCrashed[slot].load(std::memory_order_acquire))
        return;
    // The cause first: whoever sees the crash mark then finds the cause to tell.
    auto expected = BlockFailure::none;
    if (blockFailures[slot].load(std::memory_order_acquire) == BlockFailure::none)
        blockFailureMs[slot].store(juce::roundToInt(stuckMs), std::memory_order_relaxed);
    blockFailures[slot].compare_exchange_strong(expected, cause, std::memory_order_acq_rel);
    pluginCrashed[slot].store(true, std::memory_order_release);
}

size_t PluginContainerAudioProcessor::probeWhileRendering(size_t active, int numSamples) noexcept
{
    // A bounce counts from its first block: after a prepare, or after blocks in real time.
    if (offlineRestart.exchange(false, std::memory_order_acq_rel) || !renderingOffline)
    {
        offlineSamples = 0;
        nextOfflineProbe = 0;
    }
    renderingOffline = true;

    const auto position = offlineSamples;
    offlineSamples += juce::jmax(0, numSamples);
    if (position < nextOfflineProbe)
        return active;

    const auto period = juce::jmax<std::int64_t>(1, juce::roundToInt(watchPeriodMs.load(std::memory_order_relaxed)
                                                                       * blockSampleRate.load(std::memory_order_acquire) / 1000.0));
    nextOfflineProbe = (position / period + 1) * period;

    auto* loader = pluginLoaders[active].get();
    if (loader == nullptr)
        return active;

    if (!pluginCrashed[active].load(std::memory_order_acquire))
    {
        if (auto* isolated = isolatedInstances[active])
        {
            // A plugin in a helper process is asked there, through the block channel. A helper
            // that fails meanwhile is found by the block itself, which then hands over.
            if (!isolated->getConnection().askCrashQuery())
                return active;
        }
        else
        {
            auto* instance = loader->getPluginInstance();
            auto* effect = instance != nullptr ? vstEffectOf(*instance) : nullptr;
            if (effect == nullptr || !crash_query::reportsCrash(*effect))
                return active;
        }
        markFailedInBlock(active, BlockFailure::crashReported, 0.0);
    }

    // Marked crashed (now, or earlier with no slot to switch to then): the other slot plays this
    // block if it can, from the stream's state before the block, then the block's own events.
    const auto other = 1 - active;
    const bool canPlay = pluginLoaders[other] != nullptr && !pluginCrashed[other].load(std::memory_order_acquire)
                      && (isolatedInstances[other] == nullptr || !isolatedInstances[other]->getConnection().failed());
    if (!options[optionAutoSwitch].load() || !canPlay)
        return active;

    activePluginIndex.store((int) other, std::memory_order_release);
    switchFade.cancel();
    hotFadePending.store(false, std::memory_order_release);
    if (hotStandbySlot.load(std::memory_order_acquire) == (int) other)
    {
        // The hot standby has every note already; it stops being played as the standby.
        catchUpPending[other].store(false, std::memory_order_release);
    }
    else
    {
        catchUpPending[other].store(true, std::memory_order_release);
        if (auto& delay = outputDelays[other])
            delay->clear();
    }
    return other;
}

bool PluginContainerAudioProcessor::outputIsHealthy(size_t slot, const juce::AudioBuffer<float>& buffer) noexcept
{
    auto& health = outputHealth[slot];
    const auto block = blocksPlayed.load(std::memory_order_relaxed);

    // Judged afresh after a block the slot did not play, or a new plugin.
    if (healthRestart[slot].exchange(false, std::memory_order_acq_rel) || healthJudgedBlock[slot] + 1 != block)
        health.reset();
    healthJudgedBlock[slot] = block;

    switch (health.check(buffer, getTotalNumOutputChannels(), blockSampleRate.load(std::memory_order_relaxed)))
    {
        case pendulum::container::OutputHealth::Verdict::healthy:
            return true;
        case pendulum::container::OutputHealth::Verdict::notFinite:
            markFailedInBlock(slot, BlockFailure::notFinite, 0.0);
            return false;
        case pendulum::container::OutputHealth::Verdict::stuck:
            markFailedInBlock(slot, BlockFailure::stuck, health.stuckForMs());
            return false;
    }
    return true;
}

std::array<bool, 2> PluginContainerAudioProcessor::reportBlockFailures()
{
    std::array<bool, numSlots> failed {};

    for (int slot = 0; slot < numSlots; ++slot)
    {
        const auto s = (size_t) slot;
        const auto cause = blockFailures[s].exchange(BlockFailure::none, std::memory_order_acq_rel);
        if (cause == BlockFailure::none)
            continue;
        failed[s] = true;

        juce::String what;
        if (cause == BlockFailure::crashReported)
            what = "the plugin reported a crash while rendering offline";
        else if (cause == BlockFailure::notFinite)
            what = "output not finite";
        else
            what = "output stuck for " + juce::String(blockFailureMs[s].load(std::memory_order_relaxed)) + " ms";

        consolePrint("Warning: plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                     + " seems to have crashed");
        consolePrint("Plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName() + ": "
                     + what);

        const int other = 1 - slot;
        const bool playingOther = activePluginIndex.load() != slot && getPluginInstance(other) != nullptr;
        recordEvent("slot " + slotNumber(slot) + " crashed (" + what + ")"
                    + (playingOther ? "; playing slot " + slotNumber(other) : juce::String()));
    }

    if (failed[0] || failed[1])
        refreshEditorPanel();
    return failed;
}
