#pragma once

#include "console/KWDebugConsoleWriter.h"

#include <juce_audio_processors/juce_audio_processors.h>

class PluginContainerAudioProcessor;

/**
    The container's editor: a fixed 368 x 384 panel. For now it shows the product name and the
    container's instance name; the control panel's columns are built on it.
*/
class PluginContainerAudioProcessorEditor : public juce::AudioProcessorEditor, public KWDebugConsoleWriter
{
public:
    static constexpr int editorWidth = 368;
    static constexpr int editorHeight = 384;

    explicit PluginContainerAudioProcessorEditor(PluginContainerAudioProcessor& processor);
    ~PluginContainerAudioProcessorEditor() override;

    /** Re-reads everything the panel shows from the processor. */
    void refreshPanel();

    /** Re-reads the programs of the plugin in the slot, after a load into it. */
    void refreshProgramChooser(int slot);

    void paint(juce::Graphics& g) override;

private:
    PluginContainerAudioProcessor& container;
    juce::String shownInstanceName;

    JUCE_DECLARE_NON_COPYABLE(PluginContainerAudioProcessorEditor)
};
