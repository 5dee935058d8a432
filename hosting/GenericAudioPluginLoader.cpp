#include "hosting/GenericAudioPluginLoader.h"

GenericAudioPluginLoader::~GenericAudioPluginLoader() = default;

juce::OwnedArray<juce::PluginDescription>& GenericAudioPluginLoader::findPluginDescriptions(const juce::File&)
{
    return pluginDescriptions;
}
