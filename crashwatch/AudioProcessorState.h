#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    A slot's recovery snapshot: what a reloaded plugin is given back after a crash. It is taken at
    every save of the project and after every restore of the slot, so a recovery returns the plugin
    to the state of the last save or project load.
*/
class AudioProcessorState
{
public:
    AudioProcessorState() = default;
    virtual ~AudioProcessorState() = default;

    /** Fills the snapshot from the plugin: parameter values, program, state block. */
    void capture(juce::AudioPluginInstance& instance);

    /** Gives the snapshot back to a plugin: program, then state block, then parameter values. */
    void applyTo(juce::AudioPluginInstance& instance) const;

    /** One value per parameter of the plugin at capture time, in parameter order. */
    juce::Array<float> parameterValues;

    /** The plugin's state block at capture time, byte for byte. */
    juce::MemoryBlock stateData;

    /** The plugin's program at capture time, or -1 when it reported no programs. */
    int programIndex = -1;

    /** The plugin file of the plugin the snapshot was taken from. */
    juce::File sourceFile;

    JUCE_DECLARE_NON_COPYABLE(AudioProcessorState)
};
