// Loading, unloading and switching the container's hosted plugins. All of it runs on the message
// thread; whatever processBlock reads changes under the callback lock, an active slot being
// replaced is left alone by blocks until it is complete, and every change of a slot holds slotLock.
#include "container/LoadDialogs.h"
#include "container/PluginContainerAudioProcessor.h"
#include "container/ProgramChangeWatch.h"
#include "hosting/HostedEditorWindow.h"
#include "console/ConsoleGlobals.h"
#include "crashwatch/AudioProcessorState.h"
#include "crashwatch/CrashWatchDog.h"
#include "hosting/DirectVst2Processor.h"
#include "hosting/EffectHandle.h"
#include "hosting/FileFromPath.h"
#include "hosting/MyHostAudioProcessorEditor.h"
#include "platform/EditorWindow.h"
#include "hosting/PluginCallTracker.h"
#include "container/DeferredSlotWork.h"
#include "container/SampleSanitizer.h"
#include "hosting/VSTP2PluginLoader.h"
#include "isolation/IsolatedPluginInstance.h"
#include "isolation/IsolatedPluginLoader.h"
#include "ui/PluginContainerAudioProcessorEditor.h"

namespace
{
// Used to start a plugin that is loaded before the host has prepared the container.
constexpr double fallbackSampleRate = 44100.0;
constexpr int fallbackBlockSize = 512;
} // namespace

double PluginContainerAudioProcessor::startSampleRate() const
{
    return preparedSampleRate > 0.0 ? preparedSampleRate : fallbackSampleRate;
}

int PluginContainerAudioProcessor::startBlockSize() const
{
    return preparedBlockSize > 0 ? preparedBlockSize : fallbackBlockSize;
}

std::unique_ptr<GenericAudioPluginLoader> PluginContainerAudioProcessor::exchangeLoader(
    int slot, std::unique_ptr<GenericAudioPluginLoader> loader)
{
    // The guard first, then the callback lock (as setActiveIndex takes them): a block may play the
    // inactive slot when the active one fails in it, so no block sees the slot half changed.
    const SlotAccessGuard::WriteScope guard(parameterGuard);
    // A hot standby's plugin is taken out of the audio thread's reach before its slot changes.
    if (hotStandbySlot.load() == slot)
        stopHotStandby();
    const juce::ScopedLock audioLock(getCallbackLock());
    std::swap(pluginLoaders[(size_t) slot], loader);
    auto* instance = pluginLoaders[(size_t) slot] != nullptr ? pluginLoaders[(size_t) slot]->getPluginInstance() : nullptr;
    isolatedInstances[(size_t) slot] = dynamic_cast<pendulum::isolation::IsolatedPluginInstance*>(instance);
    // A failure found in a block of the old plugin and not told yet goes with it; the new one's
    // output is judged afresh.
    blockFailures[(size_t) slot].store(BlockFailure::none, std::memory_order_release);
    healthRestart[(size_t) slot].store(true, std::memory_order_release);
    // A new instance may sit where the old one was: its failure must not pass for the old one's,
    // already told.
    failureReported[(size_t) slot] = nullptr;
    // The watch moves on while the old instance still exists.
    if (programWatch != nullptr)
        programWatch->watch(slot, pluginLoaders[(size_t) slot] != nullptr ? pluginLoaders[(size_t) slot]->getPluginInstance()
                                                                         : nullptr);
    return loader;
}

void PluginContainerAudioProcessor::stopHotStandby()
{
    const juce::ScopedLock audioLock(getCallbackLock());
    hotStandbySlot.store(-1, std::memory_order_release);
    hotFadePending.store(false, std::memory_order_release);
}

void PluginContainerAudioProcessor::setHotStandby(bool on)
{
    if (hotStandbyOption.exchange(on) == on)
        return;
    logLine(juce::String(":hot standby ") + (on ? "on" : "off"));
    updateHotStandby();
    refreshEditorPanel();
}

void PluginContainerAudioProcessor::setWatchPeriodMs(int milliseconds)
{
    const int period = juce::jlimit(CrashWatchDog::minPeriodMs, CrashWatchDog::periodMs, milliseconds);
    if (watchPeriodMs.exchange(period) == period)
        return;
    logLine(":crash watch every " + juce::String(period) + " ms");
    CrashWatchDog::watchPeriodChanged();
    refreshEditorPanel();
}

void PluginContainerAudioProcessor::updateHotStandby()
{
    if (tearingDown)
        return;

    const juce::ScopedLock lock(slotLock);
    const int standby = 1 - activePluginIndex.load();
    const auto s = (size_t) standby;
    const bool playable = hotStandbyOption.load() && pluginLoaders[s] != nullptr && slotPrepared[s]
                       && !pluginCrashed[s].load() && !slotRecovering[s] && !slotsShareOneEffect();
    const int wanted = playable ? standby : -1;
    const int current = hotStandbySlot.load();

    if (wanted == current)
        return;

    MidiStateTracker held;
    {
        const juce::ScopedLock audioLock(getCallbackLock());
        held = midiState;
        hotStandbySlot.store(wanted, std::memory_order_release);
        // A plugin that starts playing along starts from the stream's state.
        if (wanted >= 0)
            catchUpPending[(size_t) wanted].store(true, std::memory_order_release);
    }

    // A plugin that stops playing along keeps no note (it is inactive: the release plays nothing
    // for the active slot).
    if (current >= 0 && current != wanted && current != activePluginIndex.load())
    {
        if (auto* instance = getPluginInstance(current);
            instance != nullptr && !pluginCrashed[(size_t) current].load() && !plugin_calls::inProgress(vstEffectOf(*instance)))
        {
            releaseHeldNotes(current, held);
            instance->reset();
        }
    }
}

int PluginContainerAudioProcessor::setActiveIndex(int slot, SwitchMoment* moment, bool fadeFromHotStandby)
{
    // The guard first: waiting for the parameter calls in flight (a hosted plugin's call may take
    // long) must not hold the callback lock, or the audio thread would wait with it. Then the
    // callback lock lets a block that is still playing the old slot finish, so nothing that block
    // uses can be taken away by a later change of the slot it was playing. No path takes the two
    // the other way round: processBlock never takes the guard.
    const SlotAccessGuard::WriteScope guard(parameterGuard);
    const juce::ScopedLock audioLock(getCallbackLock());
    if (moment != nullptr)
    {
        moment->held = midiState;
        moment->blocksPlayed = blocksPlayed.load(std::memory_order_acquire);
    }
    // The slot's first block starts with the stream's state (see processBlock).
    const int previous = activePluginIndex.exchange(slot, std::memory_order_acq_rel);
    if (previous != slot)
    {
        // A fade of an earlier switch still running ends here; this switch may render its own.
        switchFade.cancel();
        hotFadePending.store(false, std::memory_order_release);

        if (hotStandbySlot.load() == slot)
        {
            // The hot standby has played every block: it holds the notes, and its delay is in
            // step. The slot switched away from plays along from now on, unless it crashed.
            const auto p = (size_t) previous;
            const bool keepsPlaying = pluginLoaders[p] != nullptr && !pluginCrashed[p].load();
            hotStandbySlot.store(keepsPlaying ? previous : -1, std::memory_order_release);
            // The next block fades the old plugin out from what it plays along in that block.
            hotFadePending.store(keepsPlaying && fadeFromHotStandby, std::memory_order_release);
        }
        else
        {
            catchUpPending[(size_t) slot].store(true, std::memory_order_release);
            // What the slot's delay still holds is from its last turn as the active slot.
            if (auto& delay = outputDelays[(size_t) slot])
                delay->clear();
        }
    }
    return previous;
}

void PluginContainerAudioProcessor::alignLatencies()
{
    if (latencyHolds > 0 || tearingDown)
        return;

    const juce::ScopedLock lock(slotLock);

    // The latency of each slot that plays or is kept for the project (missing, being reloaded).
    std::array<std::optional<int>, numSlots> latencies;
    int reported = 0;
    for (int slot = 0; slot < numSlots; ++slot)
    {
        const auto s = (size_t) slot;
        if (auto* instance = getPluginInstance(slot))
            slotLatencies[s] = juce::jmax(0, instance->getLatencySamples());
        else if (!slotMissing[s] && !slotRecovering[s])
            slotLatencies[s] = 0;

        if (getPluginInstance(slot) != nullptr || slotMissing[s] || slotRecovering[s])
        {
            latencies[s] = slotLatencies[s];
            reported = juce::jmax(reported, slotLatencies[s]);
        }
    }

    // New delay lines are made here, outside the callback lock; only the exchange is under it.
    std::array<std::unique_ptr<pendulum::container::OutputDelay>, numSlots> replacements;
    std::array<bool, numSlots> replace {};
    for (int slot = 0; slot < numSlots; ++slot)
    {
        const auto s = (size_t) slot;
        const auto& current = outputDelays[s];
        if (getPluginInstance(slot) == nullptr)
        {
            replace[s] = current != nullptr;
            continue;
        }
        const int wanted = reported - *latencies[s];
        if (current == nullptr || current->getDelaySamples() != wanted)
        {
            replacements[s] = std::make_unique<pendulum::container::OutputDelay>(getTotalNumOutputChannels(), wanted);
            replace[s] = true;
        }
    }

    if (replace[0] || replace[1])
    {
        const juce::ScopedLock audioLock(getCallbackLock());
        for (size_t s = 0; s < (size_t) numSlots; ++s)
            if (replace[s])
                std::swap(outputDelays[s], replacements[s]);
    }
    replacements = {}; // the lines taken out go here, outside the callback lock

    if (reported == getLatencySamples())
        return;

    logLine(":latency " + juce::String(reported) + " samples");

    // The wrapper reports the new initial delay and the changed inputs and outputs; the display
    // update is asked for as well, so that hosts re-read the delay at once.
    setLatencySamples(reported);
    updateHostDisplay(ChangeDetails().withParameterInfoChanged(true));
}

PluginContainerAudioProcessor::LatencyHold::LatencyHold(PluginContainerAudioProcessor& c) : container(&c)
{
    ++c.latencyHolds;
}

PluginContainerAudioProcessor::LatencyHold::~LatencyHold()
{
    if (auto* c = container.get())
        if (--c->latencyHolds == 0)
            c->alignLatencies();
}

namespace
{
/** Holds the panel refreshes of a container for as long as it exists. */
class PanelRefreshHold
{
public:
    explicit PanelRefreshHold(std::atomic<int>& holdCount) : holds(holdCount) { ++holds; }
    ~PanelRefreshHold() { --holds; }

private:
    std::atomic<int>& holds;

    JUCE_DECLARE_NON_COPYABLE(PanelRefreshHold)
};
} // namespace

void PluginContainerAudioProcessor::refreshEditorPanel()
{
    if (panelRefreshHolds.load() > 0)
        return;

    if (auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(getActiveEditor()))
        editor->refreshPanel();
}

void PluginContainerAudioProcessor::programsChangedInPlugin(int slot)
{
    if (panelRefreshHolds.load() > 0)
        return;

    // The list is refilled (names may have changed with a bank), then the selection follows.
    if (auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(getActiveEditor()))
        editor->refreshProgramChooser(slot);

    refreshEditorPanel();
}

bool PluginContainerAudioProcessor::pluginCallInProgress() const
{
    for (int slot = 0; slot < numSlots; ++slot)
        if (auto* instance = getPluginInstance(slot); instance != nullptr && plugin_calls::inProgress(vstEffectOf(*instance)))
            return true;
    return false;
}

void PluginContainerAudioProcessor::deferUntilPluginsFree(const juce::String& what,
                                                          std::function<void(PluginContainerAudioProcessor&)> work)
{
    logLine(":" + what + " waits until the plugin's own call has returned");

    if (deferredWork == nullptr)
        deferredWork = std::make_unique<DeferredSlotWork>([this] { return !pluginCallInProgress(); });

    deferredWork->add([self = weakThis, work = std::move(work)] {
        if (auto* container = self.get())
            work(*container);
    });
}

void PluginContainerAudioProcessor::setMissing(int slot, bool missing, const juce::String& reason)
{
    const juce::ScopedLock lock(slotLock);
    const juce::ScopedLock marks(slotMarksLock);
    slotMissing[(size_t) slot] = missing;
    missingReason[(size_t) slot] = missing ? reason : juce::String();
}

// The marks are read under their own lock only: the panel reads them while the framework holds
// its editor lock, which slot changes take after slotLock (to find the editor to refresh).
bool PluginContainerAudioProcessor::isPluginMissing(int slot) const
{
    const juce::ScopedLock marks(slotMarksLock);
    return slotMissing[(size_t) slot];
}

juce::String PluginContainerAudioProcessor::getMissingReason(int slot) const
{
    const juce::ScopedLock marks(slotMarksLock);
    return missingReason[(size_t) slot];
}

bool PluginContainerAudioProcessor::isPluginRecovering(int slot) const
{
    const juce::ScopedLock marks(slotMarksLock);
    return slotRecovering[(size_t) slot];
}

void PluginContainerAudioProcessor::unloadPlugin(int slot, bool keepRecoveryState, bool resumeProcessing)
{
    // Inside a call into the slot's plugin (its own modal loop), the plugin must outlive the call.
    if (auto* instance = getPluginInstance(slot); instance != nullptr && plugin_calls::inProgress(vstEffectOf(*instance)))
    {
        deferUntilPluginsFree("unloading plugin in index " + juce::String(slot),
                              [slot, keepRecoveryState, resumeProcessing](PluginContainerAudioProcessor& c) {
                                  c.unloadPlugin(slot, keepRecoveryState, resumeProcessing);
                              });
        return;
    }

    // An unload of the active slot on its own leaves the container suspended until the next load
    // into that slot or a switch (or at once, when asked to resume). The loads, reloads and
    // restores that replace a plugin do not suspend: see commitLoadedPlugin.
    if (!resumeProcessing && slot == activePluginIndex.load() && pluginLoaders[(size_t) slot] != nullptr && !isSuspended())
        suspendProcessing(true);

    unloadSlot(slot, keepRecoveryState, resumeProcessing);
}

void PluginContainerAudioProcessor::unloadSlot(int slot, bool keepRecoveryState, bool resumeProcessing)
{
    const juce::ScopedLock lock(slotLock);
    const bool unloaded = pluginLoaders[(size_t) slot] != nullptr;

    if (unloaded)
    {
        logLine(":unloading plugin in index " + juce::String(slot) + ".");

        // The plugin's editor is closed while the plugin still exists (in its helper, too).
        pluginEditors[(size_t) slot].reset();
        if (auto* isolated = isolatedInstances[(size_t) slot])
            isolated->closeEditor();

        // Taken out of the slot first, destroyed afterwards: no parameter call can still be in it.
        auto old = exchangeLoader(slot, nullptr);
        std::unique_ptr<DirectVst2Processor> oldDirect;
        std::unique_ptr<juce::AudioBuffer<float>> oldAux;
        {
            const juce::ScopedLock audioLock(getCallbackLock());
            oldDirect = std::move(directPaths[(size_t) slot]);
            oldAux = std::move(auxBuffers[(size_t) slot]);
        }
        oldDirect.reset();
        old.reset();
        oldAux.reset();
        slotPrepared[(size_t) slot] = false;
    }

    if (!keepRecoveryState)
    {
        failureCauses[(size_t) slot] = {};
        forgetSnapshots(slot);
        const juce::ScopedLock marks(slotMarksLock);
        slotMissing[(size_t) slot] = false;
        missingReason[(size_t) slot] = {};
    }

    alignLatencies();
    updateHotStandby();

    if (resumeProcessing && isSuspended())
        suspendProcessing(false);

    if (unloaded)
        refreshEditorPanel();
}

void PluginContainerAudioProcessor::unloadPluginByUser(int slot)
{
    // As for every unload: not while a call into the slot's plugin is on the stack.
    if (auto* instance = getPluginInstance(slot); instance != nullptr && plugin_calls::inProgress(vstEffectOf(*instance)))
    {
        deferUntilPluginsFree("unloading plugin in index " + juce::String(slot),
                              [slot](PluginContainerAudioProcessor& c) { c.unloadPluginByUser(slot); });
        return;
    }

    const juce::ScopedLock lock(slotLock);
    const int other = 1 - slot;
    const bool wasActive = slot == activePluginIndex.load();

    {
        const PanelRefreshHold hold(panelRefreshHolds);

        // Not suspended: between the unload and the switch, blocks find the slot empty and play
        // silence, and their MIDI goes on into the tracker, so the other plugin starts from it.
        if (getPluginInstance(slot) != nullptr || isPluginMissing(slot))
            logSessionEvent("slot " + slotNumber(slot) + " unloaded (" + getLoadedPluginName(slot) + ")");
        unloadSlot(slot, false, false);

        if (wasActive && pluginLoaders[(size_t) other] != nullptr && !pluginCrashed[(size_t) other].load())
            setActivePlugin(other);

        if (isSuspended())
            suspendProcessing(false);
    }

    refreshEditorPanel();
}

juce::File PluginContainerAudioProcessor::choosePluginFile()
{
    // The dialog runs a nested loop in which the container may be destroyed: keep the dialogs alive.
    const auto dialogs = loadDialogs;
    return dialogs->choosePluginFile();
}

std::optional<juce::String> PluginContainerAudioProcessor::resolveLoadPath(const juce::String& filePath,
                                                                           const std::shared_ptr<LoadDialogs>& dialogs)
{
    // Each dialog runs a nested modal loop in which the host may destroy this container. After
    // each one, nothing of the container is touched unless it still exists.
    const juce::WeakReference<PluginContainerAudioProcessor> self(this);

    if (filePath.isEmpty())
    {
        const auto chosen = dialogs->choosePluginFile();

        if (self == nullptr)
            return std::nullopt;

        return chosen.exists() ? chosen.getFullPathName() : juce::String();
    }

    if (fileFromPath(filePath).exists())
        return filePath;

    const auto answer = dialogs->askToLocateMissingFile(filePath);

    if (self == nullptr)
        return std::nullopt;

    if (answer != LoadDialogs::LocateAnswer::yes)
        return juce::String();

    auto located = dialogs->locatePluginFile();

    if (self == nullptr)
        return std::nullopt;

    return located;
}

bool PluginContainerAudioProcessor::loadPlugin(int slot, const juce::String& filePath, const juce::String& pluginName)
{
    // A load replaces the slot's plugin: not while a call into it is in progress.
    if (auto* instance = getPluginInstance(slot); instance != nullptr && plugin_calls::inProgress(vstEffectOf(*instance)))
    {
        deferUntilPluginsFree("loading plugin in index " + juce::String(slot),
                              [slot, filePath, pluginName](PluginContainerAudioProcessor& c) {
                                  c.loadPlugin(slot, filePath, pluginName);
                              });
        return false;
    }

    // The user's load starts the slot's crash count afresh (a failed one too: the user is there).
    crashLoop.reset(slot);
    return loadPluginWith(slot, filePath, pluginName, {}, true, nullptr);
}

bool PluginContainerAudioProcessor::loadPluginWith(int slot, const juce::String& filePath, const juce::String& pluginName,
                                                   const std::function<void(juce::AudioPluginInstance&)>& beforeCommit,
                                                   bool mayAskUser, juce::String* unanswered)
{
    const juce::WeakReference<PluginContainerAudioProcessor> self(this);
    const OperationScope operation(*this);

    logLine(":loading plugin in index " + juce::String(slot) + ".");

    auto candidate = makeLoader(slot);

    const auto silent = mayAskUser ? nullptr : std::make_shared<SilentLoadDialogs>();
    const std::shared_ptr<LoadDialogs> dialogs = silent != nullptr ? silent : loadDialogs;
    const auto resolved = resolveLoadPath(filePath, dialogs);

    if (silent != nullptr && unanswered != nullptr)
        *unanswered = silent->unanswered();

    if (!resolved.has_value())
        return false; // the container was destroyed while a dialog was open

    const auto path = *resolved;
    consolePrint(path + ", in index " + juce::String(slot));

    auto* instance = path.isNotEmpty() ? candidate->createPluginInstance(path, "VST", pluginName) : nullptr;

    // A file with several plugins asks the user which one, in a nested loop of its own.
    if (self == nullptr)
        return false;

    juce::String isolationProblem;
    if (auto* isolatedLoader = dynamic_cast<pendulum::isolation::IsolatedPluginLoader*>(candidate.get()))
    {
        using Outcome = pendulum::isolation::IsolatedPluginLoader::Outcome;
        isolationProblem = isolatedLoader->getProblem();

        if (isolatedLoader->getOutcome() == Outcome::helperUnavailable)
        {
            // Without its helper the plugin still plays, in this process; the user is told.
            consolePrint("Could not run plugin at index " + juce::String(slot) + " in a separate process ("
                         + isolationProblem + "); loading it in-process");
            recordEvent("slot " + slotNumber(slot) + " runs in-process: " + isolationProblem);
            auto inProcess = std::make_unique<VSTP2PluginLoader>();
            inProcess->setScanWorkerPath("ScanWorker64.exe");
            instance = inProcess->createPluginInstance(path, "VST", pluginName);
            candidate = std::move(inProcess);
            isolationProblem = {};
            if (self == nullptr)
                return false;
        }
        else if (isolatedLoader->getOutcome() == Outcome::pluginFailed)
        {
            consolePrint("Could not load plugin at index " + juce::String(slot) + ": " + isolationProblem);
        }
    }

    bool loaded = false;

    {
        // Prepared and committed under one lock: a host's prepare from its own thread comes either
        // before (and the candidate starts with its values) or after (and prepares it in the slot).
        const juce::ScopedLock lock(slotLock);

        if (instance != nullptr)
        {
            consolePrint("temp->startPlaying( getSampleRate(), getBlockSize() );");
            // The plugin keeps its own channel layout (see prepareSlot); it gets the container's timing.
            instance->setRateAndBufferSizeDetails(startSampleRate(), startBlockSize());
            instance->prepareToPlay(startSampleRate(), startBlockSize());

            consolePrint("mode: " + juce::String(getTotalNumInputChannels()) + "/"
                         + juce::String(getTotalNumOutputChannels()) + "; " + "Plugin: "
                         + juce::String(instance->getTotalNumInputChannels()) + "/"
                         + juce::String(instance->getTotalNumOutputChannels()));
            consolePrint("(Synth mode)");

            if (instance->getTotalNumInputChannels() > getTotalNumInputChannels())
                consolePrint("plugin can't be loaded ( this is a synth, plugin appears to be an fx... )");
            else
                loaded = true;
        }

        if (loaded)
        {
            // Set up before the slot shows it to the audio thread: the first block it plays
            // already has its program, state and parameters.
            if (beforeCommit)
                beforeCommit(*instance);

            const auto file = candidate->getPluginFile().getFullPathName();
            commitLoadedPlugin(slot, std::move(candidate));
            logSessionEvent("slot " + slotNumber(slot) + " loaded " + getLoadedPluginName(slot) + " from " + file);
        }
        else
        {
            logLine(":failed to load plugin...");
            candidate.reset();

            // A cancelled dialog is no failure; a file that gave no plugin, or was refused, is.
            if (path.isNotEmpty())
                recordEvent("slot " + slotNumber(slot) + " could not be loaded: " + fileFromPath(path).getFileName()
                            + (isolationProblem.isNotEmpty() ? " (" + isolationProblem + ")" : juce::String()));
        }

        logLine(":active_plugin: " + juce::String(activePluginIndex.load()));

        // The new plugin is complete: blocks play it from here, starting with the catch-up.
        if (loaded)
            slotHandOver[(size_t) slot].store(false, std::memory_order_release);

        if (slot == activePluginIndex.load() && isSuspended())
            suspendProcessing(false);
    }

    if (slot != activePluginIndex.load() && slotsShareOneEffect())
        dialogs->warnSharedEffect();

    if (loaded)
        refreshEditorPanel();

    return loaded;
}

void PluginContainerAudioProcessor::commitLoadedPlugin(int slot, std::unique_ptr<GenericAudioPluginLoader> loader)
{
    const bool active = slot == activePluginIndex.load();
    // The latency is aligned once, with the new plugin in, not with the slot empty halfway.
    const LatencyHold latencyHold(*this);

    // The active slot is handed over without suspending processing: from here until the load has
    // finished, blocks play silence for it (the hot standby, if any, plays on) and their MIDI goes
    // into the tracker, so no event of the host's is lost and the new plugin starts from the
    // stream's state. Set under the callback lock: a block still playing the old plugin ends first.
    if (active)
    {
        const juce::ScopedLock audioLock(getCallbackLock());
        slotHandOver[(size_t) slot].store(true, std::memory_order_release);
    }

    // The panel is refreshed once the new plugin is in, not with the slot empty halfway.
    if (pluginLoaders[(size_t) slot] != nullptr)
    {
        const PanelRefreshHold hold(panelRefreshHolds);
        unloadSlot(slot, false, false);
    }

    // A kept snapshot belongs to the plugin it was taken from (file and name inside the file);
    // another plugin must never be given that program, state and those parameters.
    if (auto& kept = recoveryStates[(size_t) slot];
        kept != nullptr && !kept->belongsTo(loader->getPluginFile(), loader->getPluginName()))
    {
        kept.reset();
        olderStates[(size_t) slot].reset();
    }

    // A plugin in the slot again: it is no longer missing.
    {
        const juce::ScopedLock marks(slotMarksLock);
        slotMissing[(size_t) slot] = false;
        missingReason[(size_t) slot] = {};
    }

    auto* instance = loader->getPluginInstance();

    // The auxiliary buffer is in place before the loader: an inactive slot's may be read by the
    // next block once a switch makes it active, an active slot is being handed over here.
    std::unique_ptr<juce::AudioBuffer<float>> aux;
    const bool wide = instance->getTotalNumOutputChannels() > getTotalNumOutputChannels();
    if (wide)
    {
        // Sized by setSize, as every block sizes it: the constructor reserves a little less room
        // for the channel list than setSize asks for, so the first block would allocate again.
        aux = std::make_unique<juce::AudioBuffer<float>>();
        aux->setSize(auxChannelsFor(*instance), startBlockSize(), false, true, false);
    }

    // A VST2 plugin plays through its own entry points; without its time record (never seen with
    // the framework's hosting) it keeps the framework's processBlock.
    auto direct = DirectVst2Processor::create(*instance);
    if (direct != nullptr)
        direct->prepare(startSampleRate(), startBlockSize());
    else if (vstEffectOf(*instance) != nullptr)
        logLine(":the plugin's time record was not found; it plays through the framework's call");

    if (wide)
        consolePrint("allocating aux buffer ( plugin has more outputs )");
    {
        // In place before the loader, all under the callback lock (see exchangeLoader).
        const juce::ScopedLock audioLock(getCallbackLock());
        auxBuffers[(size_t) slot] = std::move(aux);
        directPaths[(size_t) slot] = std::move(direct);
        pluginCrashed[(size_t) slot] = false;
    }
    exchangeLoader(slot, std::move(loader));
    slotPrepared[(size_t) slot] = true;

    // A helper process that fails is reported here, on the message thread.
    if (auto* isolated = isolatedInstances[(size_t) slot])
        isolated->getConnection().setHangLimitMs(hangLimitMs.load());
    if (auto* isolated = isolatedInstances[(size_t) slot])
        isolated->getConnection().setFailureHandler([self = weakThis, slot, isolated] {
            juce::MessageManager::callAsync([self, slot, isolated] {
                if (auto* container = self.get())
                    container->isolatedSlotFailed(slot, isolated);
            });
        });

    // A plugin loaded into the active slot (a reload after a crash among them) starts, in its
    // first block, with the notes and controllers the stream has left standing, as of the end of
    // the hand-over; an inactive slot gets them when a switch makes it active.
    if (active)
        catchUpPending[(size_t) slot].store(true, std::memory_order_release);


    updateHotStandby();

    if (panelRefreshHolds.load() == 0)
        if (auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(getActiveEditor()))
            editor->refreshProgramChooser(slot);

    refreshEditorPanel();
}

bool PluginContainerAudioProcessor::slotsShareOneEffect() const
{
    auto* first = getPluginInstance(0);
    auto* second = getPluginInstance(1);
    return first != nullptr && second != nullptr && vstEffectOf(*first) != nullptr
        && vstEffectOf(*first) == vstEffectOf(*second);
}

void PluginContainerAudioProcessor::releaseHeldNotes(int slot, const MidiStateTracker& held)
{
    // Under slotLock: a prepare from the host's thread does not resize the slot's buffers meanwhile.
    const juce::ScopedLock lock(slotLock);
    auto* instance = getPluginInstance(slot);

    if (instance == nullptr || slot == activePluginIndex.load() || pluginCrashed[(size_t) slot].load()
        || !slotPrepared[(size_t) slot])
        return;

    // Two slots on one effect (a shell plugin loaded twice): the "old" plugin is the one playing.
    if (auto* other = getPluginInstance(1 - slot); other != nullptr && vstEffectOf(*instance) != nullptr
                                                   && vstEffectOf(*instance) == vstEffectOf(*other))
        return;

    juce::MidiBuffer midi;
    midi.ensureSize(MidiStateTracker::maxCatchUpBytes);
    held.writeRelease(midi, 0);

    // Short, within every prepared size; the plugin's own channel count; the output is dropped.
    constexpr int releaseBlockSamples = 32;
    juce::AudioBuffer<float> scratch(juce::jmax(1, auxChannelsFor(*instance)),
                                     juce::jmin(releaseBlockSamples, startBlockSize()));
    scratch.clear();

    // Under the callback lock: a block may play this slot when the active one fails in it.
    const juce::ScopedLock audioLock(getCallbackLock());
    if (auto* direct = directPaths[(size_t) slot].get())
        direct->process(scratch, midi, nullptr);
    else
        instance->processBlock(scratch, midi);
}

void PluginContainerAudioProcessor::renderFadeOut(int slot, std::uint32_t blocksAtSwitch)
{
    // Under slotLock: a prepare or a latency change does not replace the slot's buffers meanwhile.
    const juce::ScopedLock lock(slotLock);
    auto* instance = getPluginInstance(slot);

    if (instance == nullptr || slot == activePluginIndex.load() || pluginCrashed[(size_t) slot].load()
        || !slotPrepared[(size_t) slot] || slotsShareOneEffect())
        return;

    // The plugin's next 5 ms as the next blocks would have had them: no new events, the notes it
    // holds sounding on. Played in pieces no longer than the prepared block size, into a buffer of
    // the plugin's own channel count; its first two channels (or its one, the other silent) are
    // the material, through the slot's own output delay so that it stays aligned.
    const int length = pendulum::container::SwitchCrossfade::lengthAt(startSampleRate());
    auto material = switchFade.materialOf(length);
    material.clear();

    const int piece = juce::jmin(length, startBlockSize());
    juce::AudioBuffer<float> scratch(juce::jmax(1, auxChannelsFor(*instance)), piece);
    juce::MidiBuffer noEvents;
    const int exchanged = juce::jmin(material.getNumChannels(), instance->getTotalNumOutputChannels());

    for (int start = 0; start < length; start += piece)
    {
        const int count = juce::jmin(piece, length - start);
        scratch.setSize(scratch.getNumChannels(), count, false, false, true);
        scratch.clear();
        if (auto* direct = directPaths[(size_t) slot].get())
            direct->process(scratch, noEvents, nullptr);
        else
            instance->processBlock(scratch, noEvents);
        for (int channel = 0; channel < exchanged; ++channel)
            material.copyFrom(channel, start, scratch, channel, 0, count);
    }

    if (auto* delay = outputDelays[(size_t) slot].get())
        delay->process(material);
    pendulum::container::sanitizeChannels(material, material.getNumChannels());

    // Too late once the new plugin has played a block: its start would be heard twice.
    const juce::ScopedLock audioLock(getCallbackLock());
    if (blocksPlayed.load(std::memory_order_acquire) == blocksAtSwitch && activePluginIndex.load() != slot)
        switchFade.arm(length);
}

bool PluginContainerAudioProcessor::setActivePlugin(int slot)
{
    juce::AudioPluginInstance* previous = nullptr;
    int from = 0;
    SwitchMoment moment;
    bool toHotStandby = false;

    {
        const juce::ScopedLock lock(slotLock);

        logLine(":changing active plugin to index " + juce::String(slot));

        if (slot == activePluginIndex.load() && pluginLoaders[(size_t) slot] != nullptr)
            return true;

        if (pluginLoaders[(size_t) slot] == nullptr)
        {
            logLine(":no plugin available at index " + juce::String(slot));
            return false;
        }

        // The switch is one step under the callback lock, between two blocks; processing is not
        // suspended for it, so no block of the host's (and none of its MIDI) is lost to it. The
        // standby goes live first. Nothing here calls into the plugin switched away from: a
        // crashed plugin may hang or hold its own lock, and the output must not wait for it.
        // The latency stays: both slots are aligned to the same one.
        toHotStandby = hotStandbySlot.load() == slot;
        from = setActiveIndex(slot, &moment, true);

        // A block may have switched to the slot meanwhile: a helper process that failed in it
        // hands the block to the other slot there and then. The switch is done already.
        if (from == slot)
        {
            if (isSuspended())
                suspendProcessing(false);
            return true;
        }

        logLine(":successfully changed active plugin to index " + juce::String(slot));
        recordEvent(pluginCrashed[(size_t) from] ? "slot " + slotNumber(from) + " crashed; playing slot " + slotNumber(slot)
                                                 : "playing slot " + slotNumber(slot));

        // A container left suspended by an unload of its active slot plays again from here.
        if (isSuspended())
            suspendProcessing(false);

        // The plugin switched away from keeps playing along as the hot standby: nothing to end.
        if (!pluginCrashed[(size_t) from] && !toHotStandby)
            previous = getPluginInstance(from);
    }

    refreshEditorPanel();

    // The plugin switched away from no longer gets the host's blocks, so it would keep every note
    // and pedal it holds (and sound them again when switched back in). Once the new one plays, it
    // gets one block of its own on this thread with note-offs, pedals up and all-notes-off, and is
    // then reset (its voices and tails cleared). Never when it has crashed: it may hang.
    if (previous != nullptr && !plugin_calls::inProgress(vstEffectOf(*previous)))
    {
        renderFadeOut(from, moment.blocksPlayed);
        releaseHeldNotes(from, moment.held);
        previous->reset();
    }

    // With the option on, the slot switched away from (or, after a crash, none) plays along.
    updateHotStandby();

    return true;
}

void PluginContainerAudioProcessor::openEditor(int slot)
{
    logLine(":openEditor: " + juce::String(slot));

    auto* instance = getPluginInstance(slot);

    if (instance == nullptr)
        return;

    // The window goes with the host's window that shows our panel, on its monitor; without an
    // open panel it has no owner and opens on the primary monitor.
    void* ownerWindow = nullptr;
    if (auto* editor = getActiveEditor())
        if (auto* peer = editor->getPeer())
            ownerWindow = pendulum::platform::topLevelWindowOf(peer->getNativeHandle());

    const auto title = getInstanceName() + " - slot " + slotNumber(slot) + " - " + instance->getName();
    const auto cascadeStep = cascadeSeat.index() * numSlots + slot;

    // A plugin in a helper process shows its editor in a window of the helper's, made by the same
    // rules; the owner's handle means the same in every process of the session.
    if (auto* isolated = isolatedInstances[(size_t) slot])
    {
        if (!isolated->openEditor(title, ownerWindow, cascadeStep) && isolated->getConnection().failed())
            consolePrint("The editor of plugin at index " + juce::String(slot) + " could not open: its process ended.");
        return;
    }

    auto& holder = pluginEditors[(size_t) slot];

    if (holder == nullptr)
        holder = std::make_unique<MyHostAudioProcessorEditor>();

    holder->showEditorFor(instance, title, ownerWindow, cascadeStep);
}

bool PluginContainerAudioProcessor::isEditorOpen(int slot) const
{
    const juce::ScopedLock lock(slotLock);
    if (auto* isolated = isolatedInstances[(size_t) slot])
        return isolated->isEditorOpen();
    if (auto& holder = pluginEditors[(size_t) slot])
        if (auto* window = holder->getEditorWindow())
            return window->isEditorOpen();
    return false;
}
