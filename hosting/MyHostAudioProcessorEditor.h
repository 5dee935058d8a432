#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

class eee34ty0w9845rgymsiufdgomiugdfi;

/**
    A slot's holder of the window that shows its hosted plugin's own editor. The container makes
    one on the first request for the slot's editor and deletes it before the slot's plugin goes
    (unload, replacement, recovery, the container's end), so the plugin's editor is always closed
    before the plugin is destroyed. Message thread only.
*/
class MyHostAudioProcessorEditor
{
public:
    MyHostAudioProcessorEditor();
    virtual ~MyHostAudioProcessorEditor();

    /**
        Shows the instance's editor in the holder's window (made on first use), or raises the
        window if it is open already; the window's title becomes the instance's name each time.
    */
    void showEditorFor(juce::AudioPluginInstance* instance);

    juce::AudioPluginInstance* getHostedPlugin() const noexcept { return hostedPlugin; }
    eee34ty0w9845rgymsiufdgomiugdfi* getEditorWindow() const noexcept { return editorWindow.get(); }

private:
    juce::AudioPluginInstance* hostedPlugin = nullptr;
    std::unique_ptr<eee34ty0w9845rgymsiufdgomiugdfi> editorWindow;

    JUCE_DECLARE_NON_COPYABLE(MyHostAudioProcessorEditor)
};
