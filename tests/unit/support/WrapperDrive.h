#pragma once

#include "container/PluginContainerAudioProcessor.h"

/**
    Runs one block through the container the way JUCE's VST2 wrapper does: under the callback lock,
    with silence instead of processing while the container is suspended, and with the output-only
    channels cleared first (the container has no inputs). Garbage can be put into the buffer
    beforehand to see what the plugin leaves untouched.
*/
inline void processLikeWrapper(PluginContainerAudioProcessor& container, juce::AudioBuffer<float>& buffer,
                               juce::MidiBuffer& midi, bool clearOutputsFirst = true)
{
    const juce::ScopedLock lock(container.getCallbackLock());

    if (clearOutputsFirst || container.isSuspended())
        buffer.clear();

    if (!container.isSuspended())
        container.processBlock(buffer, midi);
}
