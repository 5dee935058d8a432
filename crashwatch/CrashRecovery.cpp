// The crash probe and the recovery of a crashed slot: operations of the container that belong to
// the crash watch. Message thread.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "hosting/EffectHandle.h"
#include "hosting/GenericAudioPluginLoader.h"

namespace
{
// The vendor-specific query that cooperating plugins answer with 1 once they have crashed.
constexpr Vst2::VstInt32 crashQueryIndex = 654987;
constexpr Vst2::VstIntPtr crashQueryValue = 998723;
constexpr float crashQueryOption = 0.5f;
} // namespace

bool PluginContainerAudioProcessor::probePluginCrash(int slot)
{
    const auto& loader = pluginLoaders[(size_t) slot];

    if (loader == nullptr)
        return false;

    auto* instance = loader->getPluginInstance();
    auto* effect = instance != nullptr ? vstEffectOf(*instance) : nullptr;

    if (effect == nullptr || effect->dispatcher == nullptr)
        return pluginCrashed[(size_t) slot];

    // Straight to the plugin's dispatcher, without the instance's lock: a crashed plugin may hold it.
    const auto answer = effect->dispatcher(effect, Vst2::effVendorSpecific, crashQueryIndex, crashQueryValue, nullptr,
                                           crashQueryOption);

    if (answer != 1)
        return pluginCrashed[(size_t) slot];

    pluginCrashed[(size_t) slot] = true;
    consolePrint("Warning: plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + " seems to have crashed");
    refreshEditorPanel();
    return true;
}

void PluginContainerAudioProcessor::recoverPlugin(int slot)
{
    const juce::WeakReference<PluginContainerAudioProcessor> self(this);

    consolePrint("Recovering plugin at index " + juce::String(slot) + " in instance with name " + getInstanceName()
                 + ".");

    if (pluginLoaders[(size_t) slot] != nullptr)
    {
        const auto path = pluginLoaders[(size_t) slot]->getPluginFile().getFullPathName();

        unloadPlugin(slot, true, false);
        const bool reloaded = loadPlugin(slot, path, {});

        // The load may have asked the user; the host may have closed the container meanwhile.
        if (self == nullptr)
            return;

        const juce::ScopedLock lock(slotLock);
        const auto* snapshot = recoveryStates[(size_t) slot].get();
        auto* instance = getPluginInstance(slot);

        if (reloaded && instance != nullptr && snapshot != nullptr && getOption(optionReloadCrashedPluginData))
        {
            consolePrint("Recovering plugin state...");
            snapshot->applyTo(*instance);
        }
    }

    refreshEditorPanel();
}
