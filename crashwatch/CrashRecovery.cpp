// The crash probe and the recovery of a crashed slot: operations of the container that belong to
// the crash watch. Message thread.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "crashwatch/CrashQuery.h"
#include "hosting/EffectHandle.h"
#include "hosting/GenericAudioPluginLoader.h"
#include "hosting/MyHostAudioProcessorEditor.h"
#include "hosting/PluginCallTracker.h"
#include "hosting/HostedEditorWindow.h"
#include "isolation/BackgroundPluginStart.h"
#include "isolation/IsolatedPluginInstance.h"

namespace
{
// The vendor-specific query that cooperating plugins answer with 1 once they have crashed.
constexpr Vst2::VstInt32 crashQueryIndex = crash_query::index;
constexpr Vst2::VstIntPtr crashQueryValue = crash_query::value;
constexpr float crashQueryOption = crash_query::option;
} // namespace

bool PluginContainerAudioProcessor::probePluginCrash(int slot)
{
    const auto& loader = pluginLoaders[(size_t) slot];

    if (loader == nullptr)
        return false;

    // A plugin in a helper process is asked through it; a helper that failed is a crash already.
    if (auto* isolated = isolatedInstances[(size_t) slot])
    {
        if (isolated->getConnection().failed())
        {
            // Its end is told (and the slot recovered) once it shows, with its cause; the
            // watchdog may come before the helper's own report, and tells it then.
            if (!isolated->getConnection().hasEnded())
                return false;
            reportIsolatedFailure(slot);
            return true;
        }
        if (pluginCrashed[(size_t) slot])
            return true;
        if (isolated->dispatch(Vst2::effVendorSpecific, crashQueryIndex, crashQueryValue, crashQueryOption).result != 1)
            return false;

        pluginCrashed[(size_t) slot] = true;
        consolePrint("Warning: plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                     + " seems to have crashed");
        recordEvent("slot " + slotNumber(slot) + " crashed");
        refreshEditorPanel();
        return true;
    }

    auto* instance = loader->getPluginInstance();
    auto* effect = instance != nullptr ? vstEffectOf(*instance) : nullptr;

    if (effect == nullptr || effect->dispatcher == nullptr)
        return pluginCrashed[(size_t) slot];

    // Straight to the plugin's dispatcher, without the instance's lock: a crashed plugin may hold it.
    const plugin_calls::Scope call(effect);
    const auto answer = effect->dispatcher(effect, Vst2::effVendorSpecific, crashQueryIndex, crashQueryValue, nullptr,
                                           crashQueryOption);

    if (answer != 1)
        return pluginCrashed[(size_t) slot];

    // The warning repeats while the mark stays; the panel's last event and the session log tell
    // the crash once, so that what followed it (a reload that waits, recovery giving up) stays shown.
    const bool toldBefore = pluginCrashed[(size_t) slot].exchange(true);
    consolePrint("Warning: plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + " seems to have crashed");
    if (toldBefore)
        return true;
    recordEvent("slot " + slotNumber(slot) + " crashed", "the plugin reported a crash to the crash query");
    refreshEditorPanel();
    return true;
}

void PluginContainerAudioProcessor::recoverPlugin(int slot, bool mayAskUser)
{
    const juce::WeakReference<PluginContainerAudioProcessor> self(this);

    // The crashed plugin may still have a call of ours on its stack (its own dialog loop): it is
    // reloaded once that call has returned.
    if (pluginCallInProgress())
    {
        deferUntilPluginsFree("recovering plugin in index " + juce::String(slot),
                              [slot, mayAskUser](PluginContainerAudioProcessor& c) { c.recoverPlugin(slot, mayAskUser); });
        return;
    }

    consolePrint("Recovering plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + ".");
    const auto startedMs = juce::Time::getMillisecondCounterHiRes();

    // The user's reload starts the slot's crash count afresh and gives the last snapshot; an
    // automatic one gives what the crash-loop guard chose when it granted the reload.
    using Snapshot = CrashLoopGuard::Snapshot;
    auto given = Snapshot::last;
    if (mayAskUser)
        crashLoop.reset(slot);
    else if (crashLoop.isWaiting(slot))
        given = crashLoop.granted(slot);

    // Which plugin to reload, and the state to give it: the slot's snapshot, which also stands for
    // the slot in every save until the reload is done. A slot that was never saved has only its
    // identity: the plugin comes back in its default state.
    std::shared_ptr<AudioProcessorState> record;
    std::shared_ptr<const AudioProcessorState> state;
    bool hadOlder = false;
    bool editorWasOpen = false;
    {
        const juce::ScopedLock lock(slotLock);
        const auto s = (size_t) slot;

        if (pluginLoaders[s] == nullptr && !slotMissing[s])
        {
            crashLoop.finished(slot, false, given);
            refreshEditorPanel();
            return; // nothing to recover
        }

        if (recoveryStates[s] == nullptr)
            recoveryStates[s] = identityOf(slot);

        record = recoveryStates[s];

        // A slot without an older generation goes from the last snapshot to the default state.
        hadOlder = olderStates[s] != nullptr;
        if (given == Snapshot::older && !hadOlder)
            given = Snapshot::none;
        state = given == Snapshot::last ? record : given == Snapshot::older ? olderStates[s] : nullptr;
        {
            const juce::ScopedLock marks(slotMarksLock);
            slotRecovering[s] = true;
        }

        // An editor in a helper that has ended went with it: the slot comes back without one.
        editorWasOpen = isEditorOpen(slot);
    }

    if (record->filePath.isEmpty())
    {
        // Nothing says where the plugin came from: it cannot be reloaded.
        const juce::ScopedLock lock(slotLock);
        {
            const juce::ScopedLock marks(slotMarksLock);
            slotRecovering[(size_t) slot] = false;
        }
        crashLoop.finished(slot, false, given);
        refreshEditorPanel();
        return;
    }

    // The reload keeps the latency the host was told unless the new instance reports another one.
    const LatencyHold latencyHold(*this);
    unloadSlot(slot, true, false);

    const bool applyState = getOption(optionReloadCrashedPluginData);
    juce::String unanswered;

    // Which generation is given, said before the reload (a plugin may crash inside it).
    if (applyState && given == Snapshot::older)
        consolePrint("Using the snapshot before the last one for plugin at index " + juce::String(slot)
                     + ": the plugin crashed right after it was given the last one.");
    else if (applyState && given == Snapshot::none && crashLoop.lastGiven(slot) == Snapshot::none)
        consolePrint("Reloading plugin at index " + juce::String(slot) + " in its default state again.");
    else if (applyState && given == Snapshot::none)
        consolePrint("Reloading plugin at index " + juce::String(slot)
                     + " in its default state: the plugin crashed right after it was given "
                     + (hadOlder ? "each of its two snapshots." : "its snapshot."));
    else if (applyState && state != nullptr && state->holdsState())
        consolePrint("Using the last snapshot for plugin at index " + juce::String(slot) + ".");

    // A plugin started in the background for this reload (runGrantedRecovery) is taken over when
    // it is that plugin with that state; it has its state already.
    // (The load takes it when it asks for the same file and plugin name; otherwise it starts anew.)
    const juce::AudioPluginInstance* startedWithState = nullptr;
    if (auto& started = startedLoaders[(size_t) slot])
    {
        const auto wanted = applyState && state != nullptr && state->holdsState() ? state : nullptr;
        if (mayAskUser || backgroundStartStates[(size_t) slot] != wanted)
            started.reset();
        else
            startedWithState = started->getPluginInstance();
    }
    backgroundStartStates[(size_t) slot].reset();

    // The same plugin of the same file: a shell's plugin by its stored name, never by a choice.
    const bool reloaded = loadPluginWith(
        slot, record->filePath, record->pluginName,
        [&](juce::AudioPluginInstance& instance) {
            if (applyState && state != nullptr && state->holdsState())
            {
                consolePrint("Recovering plugin state...");
                if (&instance != startedWithState)
                    state->applyTo(instance);
            }
        },
        mayAskUser, &unanswered);

    // The load may have asked the user; the host may have closed the container meanwhile.
    if (self == nullptr)
        return;
    startedLoaders[(size_t) slot].reset(); // the load took it (or it was not the plugin wanted)

    // A reload that worked starts the time in which a new crash blames the state it was given.
    crashLoop.finished(slot, reloaded, applyState ? given : Snapshot::last);

    {
        const juce::ScopedLock lock(slotLock);
        const auto s = (size_t) slot;
        {
            const juce::ScopedLock marks(slotMarksLock);
            slotRecovering[s] = false;
        }

        if (reloaded)
        {
            // The snapshot stays the slot's last good state; it now names the file the plugin came
            // from (which the user may have located anew).
            if (auto* loader = pluginLoaders[s].get())
                record->setSource(loader->getPluginFile().getFullPathName(), loader->getPluginName());
            recoveryStates[s] = record;
        }
        else
        {
            // Kept for the project as it was, and shown as missing, until the user unloads it,
            // loads another plugin or recovers it again.
            recoveryStates[s] = record;
            setMissing(slot, true, unanswered.isNotEmpty() ? unanswered : juce::String("the plugin could not be loaded again"));
        }
    }

    if (!reloaded)
    {
        consolePrint("Could not recover plugin at index " + juce::String(slot) + " in instance with name "
                     + getInstanceName() + ": " + getMissingReason(slot));
        recordEvent("slot " + slotNumber(slot) + ": " + getMissingReason(slot));
    }
    else
    {
        const auto seconds = (juce::Time::getMillisecondCounterHiRes() - startedMs) / 1000.0;
        auto reloaded = "reloaded in " + juce::String(seconds, 1) + " s";
        if (applyState && given == Snapshot::older)
            reloaded << " with the snapshot before the last";
        else if (applyState && given == Snapshot::none)
            reloaded << " in its default state";
        // An automatic recovery finishes the story of the crash it follows on one line: what
        // happened, who plays, and how the slot came back.
        const auto previous = getLastEvent().text;
        if (!mayAskUser && previous.startsWith("slot " + slotNumber(slot) + " crashed"))
            recordEvent(previous + "; " + reloaded);
        else
            recordEvent("slot " + slotNumber(slot) + " " + reloaded);

        if (editorWasOpen)
            openEditor(slot);
    }

    refreshEditorPanel();
}

void PluginContainerAudioProcessor::recoverAfterCrash(int slot)
{
    const auto decision = crashLoop.crashed(slot);

    switch (decision.action)
    {
        case CrashLoopGuard::Action::ignore:
            return;

        case CrashLoopGuard::Action::giveUp:
            tellRecoveryGaveUp(slot, decision.recentReloads);
            return;

        case CrashLoopGuard::Action::reload:
            break;
    }

    if (decision.delayMs <= 0)
    {
        runGrantedRecovery(slot, crashLoop.ticket(slot));
        return;
    }

    consolePrint("Plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + " crashed again: reloading it in " + juce::String(decision.delayMs / 1000.0, 1) + " s (reload "
                 + juce::String(decision.recentReloads) + " of at most " + juce::String(CrashLoopGuard::maxRecoveries)
                 + " within " + juce::String((int) (CrashLoopGuard::windowMs / 1000.0)) + " s).");
    refreshEditorPanel();

    scheduleDelayedRecovery(slot, crashLoop.ticket(slot), decision.delayMs);
}

void PluginContainerAudioProcessor::scheduleDelayedRecovery(int slot, std::uint32_t ticket, int delayMs)
{
    // A timer, never a wait: the message thread goes on with the switch, the panel and the host.
    auto run = [self = weakThis, slot, ticket] {
        if (auto* c = self.get())
            c->runDelayedRecovery(slot, ticket);
    };

    if (scheduleRecovery)
        scheduleRecovery(delayMs, std::move(run));
    else
        juce::Timer::callAfterDelay(delayMs, std::move(run));
}

void PluginContainerAudioProcessor::runDelayedRecovery(int slot, std::uint32_t ticket)
{
    // Dropped when the user reloaded or loaded the slot meanwhile (its ticket changed).
    if (crashLoop.ticket(slot) != ticket || !crashLoop.isWaiting(slot))
        return;

    // A load or restore of this container waits for a dialog: the reload waits a little longer.
    if (isBusy())
    {
        scheduleDelayedRecovery(slot, ticket, (int) CrashLoopGuard::delayStepMs);
        return;
    }

    runGrantedRecovery(slot, ticket);
}

namespace
{
/** The snapshot an automatic reload gives (see recoverPlugin), or null for none. */
std::shared_ptr<const AudioProcessorState> stateToGive(CrashLoopGuard::Snapshot given,
                                                       const std::shared_ptr<AudioProcessorState>& last,
                                                       const std::shared_ptr<AudioProcessorState>& older, bool applyState)
{
    using Snapshot = CrashLoopGuard::Snapshot;
    if (given == Snapshot::older && older == nullptr)
        given = Snapshot::none;
    std::shared_ptr<const AudioProcessorState> state = given == Snapshot::last ? last : given == Snapshot::older ? older : nullptr;
    return applyState && state != nullptr && state->holdsState() ? state : nullptr;
}
} // namespace

void PluginContainerAudioProcessor::runGrantedRecovery(int slot, std::uint32_t ticket)
{
    const auto s = (size_t) slot;
    juce::String file, pluginName;
    std::shared_ptr<const AudioProcessorState> state;
    {
        const juce::ScopedLock lock(slotLock);
        const auto& record = recoveryStates[s];
        // Into a helper process, the plugin is started in the background first; in this process,
        // or with nothing that says which plugin, the reload runs at once.
        if (separateProcesses.load() && record != nullptr && record->filePath.isNotEmpty()
            && (pluginLoaders[s] != nullptr || slotMissing[s]))
        {
            file = record->filePath;
            pluginName = record->pluginName;
            const auto given = crashLoop.isWaiting(slot) ? crashLoop.granted(slot) : CrashLoopGuard::Snapshot::last;
            state = stateToGive(given, record, olderStates[s], getOption(optionReloadCrashedPluginData));
        }
    }
    if (file.isEmpty())
    {
        recoverPlugin(slot, false);
        return;
    }

    // The thread tells the message thread when it is done; a container gone by then hears nothing
    // (its destructor has abandoned the start and waited for the thread).
    backgroundStartStates[s] = state;
    backgroundStarts[s] = std::make_unique<pendulum::isolation::BackgroundPluginStart>(
        file, pluginName, startSampleRate(), startBlockSize(),
        [state](juce::AudioPluginInstance& instance) {
            if (state != nullptr)
                state->applyTo(instance);
        },
        [self = weakThis, slot, ticket] {
            juce::MessageManager::callAsync([self, slot, ticket] {
                if (auto* c = self.get())
                    c->finishBackgroundStart(slot, ticket);
            });
        });
}

void PluginContainerAudioProcessor::finishBackgroundStart(int slot, std::uint32_t ticket)
{
    const auto s = (size_t) slot;
    auto start = std::move(backgroundStarts[s]);
    if (start == nullptr)
        return;

    // Dropped when the user reloaded or loaded the slot meanwhile (its ticket changed), or the
    // guard let it go; a load or restore waiting for a dialog has the reload wait a little longer.
    if (crashLoop.ticket(slot) != ticket || !crashLoop.isWaiting(slot))
        return;
    if (isBusy())
    {
        scheduleDelayedRecovery(slot, ticket, (int) CrashLoopGuard::delayStepMs);
        return;
    }

    // The reload takes the started plugin over when it is the one it would load (a failed start
    // leaves the reload to load it itself, and to say why it cannot).
    if (auto loader = start->take())
        startedLoaders[s] = std::move(loader);
    start.reset();
    const juce::WeakReference<PluginContainerAudioProcessor> self(this);
    recoverPlugin(slot, false);
    if (self != nullptr)
        startedLoaders[s].reset();
}

void PluginContainerAudioProcessor::tellRecoveryGaveUp(int slot, int reloads)
{
    const auto window = juce::String((int) (CrashLoopGuard::windowMs / 1000.0));
    consolePrint("Automatic recovery of plugin at index " + juce::String(slot) + " in instance with name "
                 + getInstanceName() + " gave up: it crashed again after " + juce::String(reloads) + " reloads within "
                 + window + " s. It stays crashed until it is reloaded by hand.");
    recordEvent("slot " + slotNumber(slot) + ": automatic recovery gave up after " + juce::String(reloads)
                    + " reloads in " + window + " s",
                "it crashed again after each; reload it by hand");
    refreshEditorPanel();
}
