// The container's state document: written for the host's project by getStateInformation.
#include "console/ConsoleGlobals.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "hosting/GenericAudioPluginLoader.h"
#include "state/MemoryBlockBase64.h"
#include "state/ParameterValueText.h"
#include "state/XmlDocumentText.h"

void PluginContainerAudioProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    {
        // A document handed over by another thread and not yet restored is still the state: the
        // host gets it back as it gave it.
        const juce::ScopedLock lock(pendingStateLock);

        if (restorePending)
        {
            destData.insert(pendingState.getData(), pendingState.getSize(), 0);
            return;
        }
    }

    writeStateDocument(destData);
}

void PluginContainerAudioProcessor::captureRecoveryState(int slot)
{
    auto& loader = pluginLoaders[(size_t) slot];
    auto& kept = recoveryStates[(size_t) slot];

    kept.reset();
    kept = std::make_unique<AudioProcessorState>();
    kept->capture(*loader->getPluginInstance());
    kept->sourceFile = loader->getPluginFile();
}

void PluginContainerAudioProcessor::writeStateDocument(juce::MemoryBlock& destData)
{
    // The slots stay as they are while the document is written, whichever thread asks.
    const juce::ScopedLock lock(slotLock);
    const auto name = getInstanceName();

    consolePrint(name + ":getStateInformation");

    // The plugins' state blocks are fetched first, so the document's size is known before writing.
    struct SlotBlock
    {
        int slot;
        juce::MemoryBlock state;
    };
    std::vector<SlotBlock> blocks;
    size_t expected = 4096;

    for (int slot = 0; slot < numSlots; ++slot)
    {
        if (pluginLoaders[(size_t) slot] == nullptr)
            continue;

        captureRecoveryState(slot);

        blocks.push_back({ slot, {} });
        pluginLoaders[(size_t) slot]->getPluginInstance()->getStateInformation(blocks.back().state);
        expected += memory_block_base64::encodedLength(blocks.back().state.getSize())
                  + (size_t) getPluginInstance(slot)->getParameters().size() * 40;
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
    xml.endEmptyElement();

    int children = 1;

    for (auto& entry : blocks)
    {
        const auto slot = entry.slot;
        auto& state = entry.state;
        auto& loader = *pluginLoaders[(size_t) slot];
        auto& instance = *loader.getPluginInstance();
        const auto numParameters = instance.getParameters().size();

        xml.beginElement("plugin");
        xml.attribute("index", slot);
        xml.attribute("filePath", loader.getPluginFile().getFullPathName());
        xml.attribute("numInputs", instance.getTotalNumInputChannels());
        xml.attribute("numOutputs", instance.getTotalNumOutputChannels());
        xml.attribute("name", instance.getName());
        xml.attribute("numParams", numParameters);
        if (instance.getNumPrograms() != 0)
            xml.attribute("currentProgram", instance.getCurrentProgram());
        xml.attribute("loadedPluginName", loader.getPluginName());
        xml.attribute("binDataSize", (int) state.getSize());
        xml.rawAttribute("binData", memory_block_base64::encodedLength(state.getSize()),
                         [&](char* dest) { memory_block_base64::encode(state.getData(), state.getSize(), dest); });
        consolePrint("binary data size: " + juce::String((juce::int64) state.getSize()));

        state.reset(); // not needed any more: keeps the peak of a save low

        if (numParameters > 0)
        {
            xml.openChildren();
            xml.beginElement("f_parameters");

            const auto& parameters = instance.getParameters();
            for (int i = 0; i < numParameters; ++i)
            {
                auto* parameter = parameters[i];
                xml.attribute(("param" + juce::String(i)).toRawUTF8(),
                              parameterValueText(parameter != nullptr ? parameter->getValue() : 0.0f));
            }

            xml.endEmptyElement();
            xml.closeElement();
        }
        else
        {
            xml.endEmptyElement();
        }

        ++children;
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
