#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// Process-wide loader state, shared by every loader of every container in the process. Loaders are
// created, used and destroyed on the message thread, one at a time; nothing here is locked.

/** Copies of every description any scan has found, in scan order; never pruned. */
extern juce::OwnedArray<juce::PluginDescription> scannedDescriptionCache;

/** The one VST format object all VST loaders share; null while no VST loader exists. */
extern std::unique_ptr<juce::VSTPluginFormat> sharedVstFormat;

/** The number of live VST loaders. */
extern int liveVstLoaderCount;

/**
    Writes a loader diagnostic to the process's standard output: the text as given (each begins with
    a line feed and ends without one), flushed so that it is in order with other output.
*/
void loaderOutput(const juce::String& text);
