// The container's state document: written for the host's project by getStateInformation.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/CrashWatchDog.h"
#include "crashwatch/AudioProcessorState.h"
#include "hosting/GenericAudioPluginLoader.h"
#include "isolation/IsolatedPluginInstance.h"
#include "state/MemoryBlockBase64.h"
#include "state/ParameterValueText.h"
#include "state/XmlDocumentText.h"

void PluginContainerAudioProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    {
        // A document whose restore has not finished is still the state: the host gets it back as
        // it gave it.
        const juce::ScopedLock lock(pendingStateLock);

        if (restorePending)
        {
            if (pendingState != nullptr && pendingState->size > 0)
                destData.insert(pendingState->data, pendingState->size, 0);
            return;
        }
    }

    writeStateDocument(destData);
}

const AudioProcessorState& PluginContainerAudioProcessor::captureRecoveryState(int slot)
{
    auto& loader = pluginLoaders[(size_t) slot];
    auto& kept = recoveryStates[(size_t) slot];

    // A plugin in a helper process may die or hang while it is asked: its old snapshot stays the
    // slot's until the new one is complete, and a failed capture is never kept.
    if (auto* isolated = isolatedInstances[(size_t) slot])
    {
        auto fresh = std::make_shared<AudioProcessorState>();
        fresh->capture(*isolated);
        if (isolated->getConnection().failed())
        {
            pluginCrashed[(size_t) slot] = true;
            if (kept == nullptr)
                kept = identityOf(slot);
            return *kept;
        }
        fresh->setSource(loader->getPluginFile().getFullPathName(), loader->getPluginName());
        keepSnapshot(slot, std::move(fresh));
        return *kept;
    }

    // Two generations are kept (see keepSnapshot): the one before the last goes only once the
    // fresh capture shows whether it differs from the last, so a capture briefly holds three.
    auto fresh = std::make_shared<AudioProcessorState>();
    fresh->capture(*loader->getPluginInstance());
    fresh->setSource(loader->getPluginFile().getFullPathName(), loader->getPluginName());
    keepSnapshot(slot, std::move(fresh));
    return *kept;
}

void PluginContainerAudioProcessor::keepSnapshot(int slot, std::shared_ptr<AudioProcessorState> fresh)
{
    const auto s = (size_t) slot;
    auto& kept = recoveryStates[s];

    if (crashLoop.lastGiven(slot) != CrashLoopGuard::Snapshot::last)
    {
        // The plugin runs with an older state, or its default one, since the last snapshot was
        // followed by a crash: that snapshot goes, and the plugin's present state is the last.
        olderStates[s].reset();
        kept = std::move(fresh);
        crashLoop.snapshotReplaced(slot);
        return;
    }

    if (kept != nullptr && kept->hasSameStateAs(*fresh))
    {
        // Nothing changed since the last save: the generation before it stays the older one.
        kept = std::move(fresh);
        return;
    }

    if (kept != nullptr && kept->holdsState())
        olderStates[s] = std::move(kept);
    kept = std::move(fresh);
    crashLoop.snapshotReplaced(slot);
}

void PluginContainerAudioProcessor::forgetSnapshots(int slot)
{
    recoveryStates[(size_t) slot].reset();
    olderStates[(size_t) slot].reset();
    crashLoop.reset(slot);
}

std::shared_ptr<AudioProcessorState> PluginContainerAudioProcessor::identityOf(int slot) const
{
    const auto& loader = pluginLoaders[(size_t) slot];
    auto identity = std::make_shared<AudioProcessorState>();

    if (loader == nullptr)
        return identity;

    identity->setSource(loader->getPluginFile().getFullPathName(), loader->getPluginName());

    // What the framework knows of the instance already: nothing here calls into the plugin.
    if (auto* instance = loader->getPluginInstance())
    {
        identity->displayName = instance->getName();
        identity->numInputs = instance->getTotalNumInputChannels();
        identity->numOutputs = instance->getTotalNumOutputChannels();
    }

    return identity;
}

PluginContainerAudioProcessor::SaveSource PluginContainerAudioProcessor::saveSourceOf(int slot) const
{
    const auto s = (size_t) slot;
    const bool kept = recoveryStates[s] != nullptr;

    // Being reloaded, or missing on this machine: the slot is saved as it was before.
    if (slotRecovering[s] || slotMissing[s])
        return kept ? SaveSource::snapshot : SaveSource::none;

    if (pluginLoaders[s] == nullptr)
        return SaveSource::none;

    // A crashed plugin's state is not to be trusted, and asking it may never return.
    if (pluginCrashed[s].load())
        return SaveSource::snapshot;

    return SaveSource::plugin;
}

void PluginContainerAudioProcessor::writePluginElement(XmlDocumentText& xml, int slot, const AudioProcessorState& state)
{
    const auto numParameters = state.parameterValues.size();
    const auto& block = state.stateData;

    xml.beginElement("plugin");
    xml.attribute("index", slot);
    xml.attribute("filePath", state.filePath);
    xml.attribute("numInputs", state.numInputs);
    xml.attribute("numOutputs", state.numOutputs);
    xml.attribute("name", state.displayName);
    xml.attribute("numParams", numParameters);
    if (state.programIndex != -1)
        xml.attribute("currentProgram", state.programIndex);
    xml.attribute("loadedPluginName", state.pluginName);
    xml.attribute("binDataSize", (int) block.getSize());
    xml.rawAttribute("binData", memory_block_base64::encodedLength(block.getSize()),
                     [&](char* dest) { memory_block_base64::encode(block.getData(), block.getSize(), dest); });
    consolePrint("binary data size: " + juce::String((juce::int64) block.getSize()));

    if (numParameters > 0)
    {
        xml.openChildren();
        xml.beginElement("f_parameters");

        for (int i = 0; i < numParameters; ++i)
            xml.attribute(("param" + juce::String(i)).toRawUTF8(), parameterValueText(state.parameterValues.getUnchecked(i)));

        xml.endEmptyElement();
        xml.closeElement();
    }
    else
    {
        xml.endEmptyElement();
    }
}

void PluginContainerAudioProcessor::writeStateDocument(juce::MemoryBlock& destData)
{
    // The slots stay as they are while the document is written, whichever thread asks.
    const juce::ScopedLock lock(slotLock);
    const auto name = getInstanceName();

    consolePrint(name + ":getStateInformation");

    // What each slot is written from: a healthy plugin's state is captured once, and that capture
    // becomes the slot's recovery snapshot too; every other slot is written from what it keeps.
    std::array<std::shared_ptr<const AudioProcessorState>, numSlots> sources;
    size_t expected = 4096;

    for (int slot = 0; slot < numSlots; ++slot)
    {
        switch (saveSourceOf(slot))
        {
            case SaveSource::plugin:
                captureRecoveryState(slot);
                sources[(size_t) slot] = recoveryStates[(size_t) slot];
                break;
            case SaveSource::snapshot:
                sources[(size_t) slot] = recoveryStates[(size_t) slot] != nullptr ? recoveryStates[(size_t) slot]
                                                                                   : identityOf(slot);
                break;
            case SaveSource::none:
                break;
        }

        if (const auto& source = sources[(size_t) slot])
            expected += memory_block_base64::encodedLength(source->stateData.getSize())
                      + (size_t) source->parameterValues.size() * 40;
    }

    juce::MemoryBlock document;
    const bool writeInPlace = destData.isEmpty();
    auto& target = writeInPlace ? destData : document;

    XmlDocumentText xml(target, expected);
    xml.beginElement("pluginData");
    xml.openChildren();

    xml.beginElement("main_plugin");
    xml.attribute("activePlugin", activePluginIndex.load());
    for (int option = 0; option < numOptions; ++option)
        xml.attribute(("optionB" + juce::String(option)).toRawUTF8(), getOption(option) ? 1 : 0);
    xml.attribute("instanceName", name);

    consoleBoundsRestored = false;

    if (debugConsole != nullptr)
    {
        xml.attribute("windowName", debugConsole->getTitle());
        xml.attribute("x", debugConsole->getX());
        xml.attribute("y", debugConsole->getY());
        xml.attribute("w", debugConsole->getWidth());
        xml.attribute("h", debugConsole->getHeight());
    }
    // Read by name, after the attributes read by position; written only when on, so that a
    // document of in-process slots is the same as before the option existed.
    if (getRunInSeparateProcesses())
        xml.attribute("separateProcesses", 1);
    // Last, and only when on: readers that take the attributes by position, and documents
    // written without it, stay as they were.
    if (isHotStandby())
        xml.attribute("hotStandby", 1);
    if (getWatchPeriodMs() != CrashWatchDog::periodMs)
        xml.attribute("watchPeriodMs", getWatchPeriodMs());
    if (getOutputHealthCheck())
        xml.attribute("outputHealth", 1);
    xml.endEmptyElement();

    int children = 1;

    for (int slot = 0; slot < numSlots; ++slot)
    {
        if (const auto& source = sources[(size_t) slot])
        {
            writePluginElement(xml, slot, *source);
            ++children;
        }
    }

    xml.closeElement();
    xml.finish();
    const auto documentBytes = xml.bytesWritten();

    consolePrint(name + ":bytes: " + juce::String((juce::int64) documentBytes));
    consolePrint(name + ":ChildElements: " + juce::String(children));

    if (!writeInPlace)
        destData.insert(document.getData(), document.getSize(), 0);

    consolePrint(name + ":destData bytes: " + juce::String((juce::int64) destData.getSize()));
}
