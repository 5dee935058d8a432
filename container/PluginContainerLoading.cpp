// Loading, unloading and switching the container's hosted plugins. All of it runs on the message
// thread; whatever processBlock reads changes only while processing is suspended.
#include "container/LoadDialogs.h"
#include "container/PluginContainerAudioProcessor.h"
#include "console/ConsoleGlobals.h"
#include "hosting/FileFromPath.h"
#include "hosting/VSTP2PluginLoader.h"
#include "ui/PluginContainerAudioProcessorEditor.h"

namespace
{
// Used to start a plugin that is loaded before the host has prepared the container.
constexpr double fallbackSampleRate = 44100.0;
constexpr int fallbackBlockSize = 512;
} // namespace

double PluginContainerAudioProcessor::startSampleRate() const
{
    return getSampleRate() > 0.0 ? getSampleRate() : fallbackSampleRate;
}

int PluginContainerAudioProcessor::startBlockSize() const
{
    return getBlockSize() > 0 ? getBlockSize() : fallbackBlockSize;
}

void PluginContainerAudioProcessor::unloadPlugin(int slot, bool keepRecoveryState, bool resumeProcessing)
{
    juce::ignoreUnused(keepRecoveryState); // recovery snapshots are kept per slot once crash recovery exists

    if (pluginLoaders[(size_t) slot] != nullptr)
    {
        if (slot == activePluginIndex && !isSuspended())
            suspendProcessing(true);

        logLine(":unloading plugin in index " + juce::String(slot) + ".");
        pluginLoaders[(size_t) slot].reset();
        auxBuffers[(size_t) slot].reset();
    }

    if (resumeProcessing && isSuspended())
        suspendProcessing(false);
}

juce::File PluginContainerAudioProcessor::choosePluginFile()
{
    return loadDialogs->choosePluginFile();
}

juce::String PluginContainerAudioProcessor::resolveLoadPath(const juce::String& filePath)
{
    if (filePath.isEmpty())
    {
        const auto chosen = choosePluginFile();
        return chosen.exists() ? chosen.getFullPathName() : juce::String();
    }

    if (fileFromPath(filePath).exists())
        return filePath;

    if (loadDialogs->askToLocateMissingFile(filePath) == LoadDialogs::LocateAnswer::yes)
        return loadDialogs->locatePluginFile();

    return {};
}

bool PluginContainerAudioProcessor::loadPlugin(int slot, const juce::String& filePath, const juce::String& pluginName)
{
    logLine(":loading plugin in index " + juce::String(slot) + ".");

    auto candidate = std::make_unique<VSTP2PluginLoader>();
    candidate->setScanWorkerPath("ScanWorker64.exe");

    const auto path = resolveLoadPath(filePath);
    consolePrint(path + ", in index " + juce::String(slot));

    bool loaded = false;
    auto* instance = path.isNotEmpty() ? candidate->createPluginInstance(path, "VST", pluginName) : nullptr;

    if (instance != nullptr)
    {
        consolePrint("temp->startPlaying( getSampleRate(), getBlockSize() );");
        // The plugin keeps its own channel layout (see prepareSlot); it gets the container's timing.
        instance->setRateAndBufferSizeDetails(startSampleRate(), startBlockSize());
        instance->prepareToPlay(startSampleRate(), startBlockSize());

        consolePrint("mode: " + juce::String(getTotalNumInputChannels()) + "/" + juce::String(getTotalNumOutputChannels())
                     + "; " + "Plugin: " + juce::String(instance->getTotalNumInputChannels()) + "/"
                     + juce::String(instance->getTotalNumOutputChannels()));
        consolePrint("(Synth mode)");

        if (instance->getTotalNumInputChannels() > getTotalNumInputChannels())
            consolePrint("plugin can't be loaded ( this is a synth, plugin appears to be an fx... )");
        else
            loaded = true;
    }

    if (loaded)
    {
        commitLoadedPlugin(slot, std::move(candidate));
    }
    else
    {
        logLine(":failed to load plugin...");
        candidate.reset();
    }

    logLine(":active_plugin: " + juce::String(activePluginIndex));

    if (slot == activePluginIndex && isSuspended())
        suspendProcessing(false);

    if (slot != activePluginIndex && slotsShareOneEffect())
        loadDialogs->warnSharedEffect();

    return loaded;
}

void PluginContainerAudioProcessor::commitLoadedPlugin(int slot, std::unique_ptr<GenericAudioPluginLoader> loader)
{
    const bool active = slot == activePluginIndex;

    if (active)
        suspendProcessing(true);

    if (pluginLoaders[(size_t) slot] != nullptr)
        unloadPlugin(slot, false, false);

    auto* instance = loader->getPluginInstance();
    pluginLoaders[(size_t) slot] = std::move(loader);
    pluginCrashed[(size_t) slot] = false;

    if (instance->getTotalNumOutputChannels() > getTotalNumOutputChannels())
    {
        consolePrint("allocating aux buffer ( plugin has more outputs )");
        auxBuffers[(size_t) slot] = std::make_unique<juce::AudioBuffer<float>>(auxChannelsFor(*instance), startBlockSize());
    }

    if (active)
        setLatencySamples(instance->getLatencySamples());

    if (auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(getActiveEditor()))
        editor->refreshProgramChooser(slot);
}

bool PluginContainerAudioProcessor::slotsShareOneEffect() const
{
    auto* first = getPluginInstance(0);
    auto* second = getPluginInstance(1);
    return first != nullptr && second != nullptr
        && first->getPlatformSpecificData() == second->getPlatformSpecificData();
}

bool PluginContainerAudioProcessor::setActivePlugin(int slot)
{
    logLine(":changing active plugin to index " + juce::String(slot));

    if (slot == activePluginIndex && pluginLoaders[(size_t) slot] != nullptr)
        return true;

    if (pluginLoaders[(size_t) slot] == nullptr)
    {
        logLine(":no plugin available at index " + juce::String(slot));
        return false;
    }

    suspendProcessing(true);

    if (auto* current = getPluginInstance(activePluginIndex))
        current->reset();

    activePluginIndex = slot;
    setLatencySamples(getPluginInstance(slot)->getLatencySamples());
    logLine(":successfully changed active plugin to index " + juce::String(slot));

    suspendProcessing(false);

    if (auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(getActiveEditor()))
        editor->refreshPanel();

    return true;
}
