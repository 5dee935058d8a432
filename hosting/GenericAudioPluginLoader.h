#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

/**
    Turns a plugin file into one running hosted plugin instance, and owns that instance.

    A container makes one loader per load and keeps it in the slot while the plugin stays loaded:
    the loader remembers the file and the description the instance was made from, and deleting
    the loader deletes the instance. Concrete loaders implement createPluginInstance for their
    plugin format.
*/
class GenericAudioPluginLoader
{
public:
    GenericAudioPluginLoader() = default;
    virtual ~GenericAudioPluginLoader();

    /**
        Creates the instance of a plugin in the file (its full path): the one named pluginName in
        the given format, or, with an empty name, the only one or the one the user picks. The loader
        owns the result; null on failure.
    */
    virtual juce::AudioPluginInstance* createPluginInstance(const juce::String& file, const juce::String& formatName,
                                                            const juce::String& pluginName) = 0;

    /** The descriptions known for the file; the base class adds none to those it has. */
    virtual juce::OwnedArray<juce::PluginDescription>& findPluginDescriptions(const juce::String& file);

    /** The hosted instance, or null when there is none. */
    juce::AudioPluginInstance* getPluginInstance() const noexcept { return plugin_instance.get(); }

    const juce::File& getPluginFile() const noexcept { return pluginFile; }

    /** The description the instance was made from, or null. */
    const juce::PluginDescription* getChosenDescription() const noexcept { return chosenDescription; }

    /** The name of the description the instance was made from; empty when there is none. */
    juce::String getPluginName() const;

protected:
    juce::File pluginFile;
    std::unique_ptr<juce::AudioPluginInstance> plugin_instance;
    juce::OwnedArray<juce::PluginDescription> pluginDescriptions;
    juce::PluginDescription* chosenDescription = nullptr;

    JUCE_DECLARE_NON_COPYABLE(GenericAudioPluginLoader)
};
