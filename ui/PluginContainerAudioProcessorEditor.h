#pragma once

#include "console/KWDebugConsoleWriter.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

class GUI;
class PluginContainerAudioProcessor;

/**
    The container's editor: a fixed 368 x 384 window onto the control panel (GUI). The panel is
    384 x 600 and placed at (0, 0), so the editor shows its top-left part, where every control lies.

    The processor asks the open editor to refresh after every change of a slot (loads, unloads,
    switches, crash marks, recoveries and restores), and to refill a slot's program list after a
    load. Those requests may come from a thread other
    than the message thread (a host restoring a project on its own thread); they are then handed
    over to the message thread and dropped if the editor has closed by the time they arrive.
*/
class PluginContainerAudioProcessorEditor : public juce::AudioProcessorEditor, public KWDebugConsoleWriter
{
public:
    static constexpr int editorWidth = 368;
    static constexpr int editorHeight = 384;

    explicit PluginContainerAudioProcessorEditor(PluginContainerAudioProcessor& processor);
    ~PluginContainerAudioProcessorEditor() override;

    /** Brings the whole panel in line with the processor. */
    void refreshPanel();

    /** Refills the program list of the slot, after a load into it. */
    void refreshProgramChooser(int slot);

    /**
        The panel covers the editor; the fill underneath keeps the editor's promise when a host
        wrapper marks it opaque (the VST wrapper does).
    */
    void paint(juce::Graphics& g) override;

    /**
        The host's display scale (the wrapper's per-monitor scale): the panel keeps its 100 %
        layout and is drawn at the factor; the whole of it is drawn again at the new size.
    */
    void setScaleFactor(float newScale) override;

private:
    /** Runs the call now on the message thread, or hands it over to it from any other thread. */
    template <typename Call>
    void onMessageThread(Call&& call);

    std::unique_ptr<GUI> panel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginContainerAudioProcessorEditor)
};
