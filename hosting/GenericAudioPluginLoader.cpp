#include "hosting/GenericAudioPluginLoader.h"

GenericAudioPluginLoader::~GenericAudioPluginLoader() = default;

juce::OwnedArray<juce::PluginDescription>& GenericAudioPluginLoader::findPluginDescriptions(const juce::String&)
{
    return pluginDescriptions;
}

juce::String GenericAudioPluginLoader::getPluginName() const
{
    return chosenDescription != nullptr ? chosenDescription->name : juce::String();
}
