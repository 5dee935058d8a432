#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    A slot's recovery snapshot: what a reloaded plugin is given back after a crash. It is taken at
    every save of the project and after every restore of the slot, so a recovery returns the plugin
    to the state of the last save or project load.

    It also records which plugin it belongs to (the file as the slot names it, and the plugin's
    name inside that file) and how the plugin presented itself, so that a slot whose plugin cannot
    run (crashed, being reloaded, or missing on this machine) is still written into the project
    exactly as it was, from the snapshot alone and without asking the plugin anything.
*/
class AudioProcessorState
{
public:
    AudioProcessorState() = default;
    virtual ~AudioProcessorState() = default;

    /** Fills the snapshot from the plugin: parameter values, program, state block, channel counts. */
    void capture(juce::AudioPluginInstance& instance);

    /**
        Gives the snapshot back to a plugin: program, then state block, then parameter values.
        What the snapshot does not hold (no program, an empty state block) is left alone.
    */
    void applyTo(juce::AudioPluginInstance& instance) const;

    /** True when the snapshot was taken from (or written for) this plugin of this file. */
    bool belongsTo(const juce::File& file, const juce::String& name) const;

    /** True when the snapshot holds something to give a plugin: a program, a state block or parameters. */
    bool holdsState() const;

    /** True when both hold the same program, state block and parameter values. */
    bool hasSameStateAs(const AudioProcessorState& other) const;

    /** Takes the plugin's identity from the slot it is kept for: file, name inside the file. */
    void setSource(const juce::String& path, const juce::String& name);

    /** One value per parameter of the plugin at capture time, in parameter order. */
    juce::Array<float> parameterValues;

    /** The plugin's state block at capture time, byte for byte. */
    juce::MemoryBlock stateData;

    /** The plugin's program at capture time, or -1 when it reported no programs. */
    int programIndex = -1;

    /** The plugin file of the plugin the snapshot was taken from. */
    juce::File sourceFile;

    /** That file's path as the slot names it (kept as text: the project may come from another system). */
    juce::String filePath;

    /** The plugin's name inside its file (which one of a shell), as the loader chose it. */
    juce::String pluginName;

    /** The name the plugin instance reported, and its channel counts. */
    juce::String displayName;
    int numInputs = 0;
    int numOutputs = 0;

    JUCE_DECLARE_NON_COPYABLE(AudioProcessorState)
};
