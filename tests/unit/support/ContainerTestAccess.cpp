#include "support/ContainerTestAccess.h"

#include "hosting/DirectVst2Processor.h"
#include "hosting/GenericAudioPluginLoader.h"
#include "hosting/MyHostAudioProcessorEditor.h"

namespace
{
class AdoptingLoader : public GenericAudioPluginLoader
{
public:
    AdoptingLoader(std::unique_ptr<juce::AudioPluginInstance> instance, const juce::File& file)
    {
        pluginFile = file;
        auto* description = new juce::PluginDescription();
        instance->fillInPluginDescription(*description);
        pluginDescriptions.add(description);
        chosenDescription = description;
        plugin_instance = std::move(instance);
    }

    juce::AudioPluginInstance* createPluginInstance(const juce::String&, const juce::String&,
                                                    const juce::String&) override
    {
        return nullptr;
    }
};
} // namespace

void PluginContainerTestAccess::install(PluginContainerAudioProcessor& container, int slot,
                                        std::unique_ptr<juce::AudioPluginInstance> instance,
                                        const juce::File& pluginFile)
{
    container.auxBuffers[(size_t) slot].reset();
    container.directPaths[(size_t) slot].reset(); // an in-process instance plays through the framework's call
    if (instance->getTotalNumOutputChannels() > 2)
        container.auxBuffers[(size_t) slot] = std::make_unique<juce::AudioBuffer<float>>(
            PluginContainerAudioProcessor::auxChannelsFor(*instance), container.getBlockSize());

    container.pluginLoaders[(size_t) slot] = std::make_unique<AdoptingLoader>(std::move(instance), pluginFile);
}

void PluginContainerTestAccess::setActive(PluginContainerAudioProcessor& container, int slot)
{
    container.setActiveIndex(slot);
}

bool PluginContainerTestAccess::hasAuxBuffer(const PluginContainerAudioProcessor& container, int slot)
{
    return container.auxBuffers[(size_t) slot] != nullptr;
}

int PluginContainerTestAccess::auxChannels(const PluginContainerAudioProcessor& container, int slot)
{
    const auto& aux = container.auxBuffers[(size_t) slot];
    return aux != nullptr ? aux->getNumChannels() : 0;
}

int PluginContainerTestAccess::auxSamples(const PluginContainerAudioProcessor& container, int slot)
{
    const auto& aux = container.auxBuffers[(size_t) slot];
    return aux != nullptr ? aux->getNumSamples() : 0;
}

MyHostAudioProcessorEditor* PluginContainerTestAccess::editorHolder(const PluginContainerAudioProcessor& container,
                                                                    int slot)
{
    return container.pluginEditors[(size_t) slot].get();
}

void PluginContainerTestAccess::markCrashed(PluginContainerAudioProcessor& container, int slot)
{
    container.pluginCrashed[(size_t) slot] = true;
}

void PluginContainerTestAccess::setRecoveryTiming(PluginContainerAudioProcessor& container, std::function<double()> clock,
                                                  std::function<void(int, std::function<void()>)> scheduler)
{
    container.crashLoop.setClock(std::move(clock));
    container.scheduleRecovery = std::move(scheduler);
}
