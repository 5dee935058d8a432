#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "Vst2.h"

/**
    The VST 2.x effect record behind a hosted instance, or null for an instance of another format.
    The container talks to it directly for the crash query and compares it across slots.
*/
inline Vst2::AEffect* vstEffectOf(juce::AudioPluginInstance& instance)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    return static_cast<Vst2::AEffect*>(instance.getPlatformSpecificData());
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}
