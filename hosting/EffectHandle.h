#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "Vst2.h"

/**
    The VST 2.x effect record behind a hosted instance, or null for an instance of another format.
    The container talks to it directly for the crash query, its parameters and its audio, and
    compares it across slots.
*/
inline Vst2::AEffect* vstEffectOf(juce::AudioPluginInstance& instance)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    return static_cast<Vst2::AEffect*>(instance.getPlatformSpecificData());
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

/**
    A hosted VST2 plugin's parameter, read through the plugin's own entry point. The framework's
    parameter objects take the instance's lock, which every dispatcher call of the framework holds
    (a save's chunk, a reset), so a host's automation would wait for them; this takes none. 0 for an
    index the plugin does not have; no exception of the plugin's leaves it.
*/
inline float vstParameterValue(Vst2::AEffect& effect, int index) noexcept
{
    if (index < 0 || index >= effect.numParams || effect.getParameter == nullptr)
        return 0.0f;
    try
    {
        return effect.getParameter(&effect, index);
    }
    catch (...)
    {
        return 0.0f;
    }
}

/** Sets a hosted VST2 plugin's parameter through its own entry point (see vstParameterValue). */
inline void setVstParameterValue(Vst2::AEffect& effect, int index, float value) noexcept
{
    if (index < 0 || index >= effect.numParams || effect.setParameter == nullptr)
        return;
    try
    {
        effect.setParameter(&effect, index, value);
    }
    catch (...)
    {
    }
}
