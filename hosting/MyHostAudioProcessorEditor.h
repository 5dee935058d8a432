#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

class eee34ty0w9845rgymsiufdgomiugdfi;

/**
    A container's place in the cascade of editor windows: the lowest number no other living
    container holds, kept for the container's life, so the windows of two containers open apart
    and a container keeps its place while others come and go. Any thread.
*/
class EditorCascadeSeat
{
public:
    EditorCascadeSeat();
    ~EditorCascadeSeat();
    int index() const noexcept { return seat; }

private:
    int seat = 0;
    JUCE_DECLARE_NON_COPYABLE(EditorCascadeSeat)
};

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
        Shows the instance's editor in the holder's window (made on first use), or restores and
        raises the window if it is open already; the window's title becomes `title` each time.
        A new window opens on the monitor of `ownerWindow` (the top-level window of the
        container's editor, or null) and is owned by it, at cascade position `cascadeStep`.
    */
    void showEditorFor(juce::AudioPluginInstance* instance, const juce::String& title, void* ownerWindow,
                       int cascadeStep);

    juce::AudioPluginInstance* getHostedPlugin() const noexcept { return hostedPlugin; }
    eee34ty0w9845rgymsiufdgomiugdfi* getEditorWindow() const noexcept { return editorWindow.get(); }

private:
    juce::AudioPluginInstance* hostedPlugin = nullptr;
    std::unique_ptr<eee34ty0w9845rgymsiufdgomiugdfi> editorWindow;

    JUCE_DECLARE_NON_COPYABLE(MyHostAudioProcessorEditor)
};
