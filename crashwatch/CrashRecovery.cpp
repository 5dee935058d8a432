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

    pluginCrashed[(size_t) slot] = true;
    consolePrint("Warning: plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + " seems to have crashed");
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

    // Which plugin to reload, and the state to give it: the slot's snapshot, which also stands for
    // the slot in every save until the reload is done. A slot that was never saved has only its
    // identity: the plugin comes back in its default state.
    std::shared_ptr<AudioProcessorState> record;
    bool editorWasOpen = false;
    {
        const juce::ScopedLock lock(slotLock);
        const auto s = (size_t) slot;

        if (pluginLoaders[s] == nullptr && !slotMissing[s])
        {
            refreshEditorPanel();
            return; // nothing to recover
        }

        if (recoveryStates[s] == nullptr)
            recoveryStates[s] = identityOf(slot);

        record = recoveryStates[s];
        {
            const juce::ScopedLock marks(slotMarksLock);
            slotRecovering[s] = true;
        }

        if (auto& holder = pluginEditors[s])
            if (auto* window = holder->getEditorWindow())
                editorWasOpen = window->isEditorOpen();
    }

    if (record->filePath.isEmpty())
    {
        // Nothing says where the plugin came from: it cannot be reloaded.
        const juce::ScopedLock lock(slotLock);
        {
            const juce::ScopedLock marks(slotMarksLock);
            slotRecovering[(size_t) slot] = false;
        }
        refreshEditorPanel();
        return;
    }

    // The reload keeps the latency the host was told unless the new instance reports another one.
    const LatencyHold latencyHold(*this);
    unloadSlot(slot, true, false);

    const bool applyState = getOption(optionReloadCrashedPluginData);
    juce::String unanswered;

    // The same plugin of the same file: a shell's plugin by its stored name, never by a choice.
    const bool reloaded = loadPluginWith(
        slot, record->filePath, record->pluginName,
        [&](juce::AudioPluginInstance& instance) {
            if (applyState && (record->programIndex != -1 || !record->stateData.isEmpty() || !record->parameterValues.isEmpty()))
            {
                consolePrint("Recovering plugin state...");
                record->applyTo(instance);
            }
        },
        mayAskUser, &unanswered);

    // The load may have asked the user; the host may have closed the container meanwhile.
    if (self == nullptr)
        return;

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
        const auto reloaded = "reloaded in " + juce::String(seconds, 1) + " s";
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
