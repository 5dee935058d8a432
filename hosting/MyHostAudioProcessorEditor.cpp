#include "hosting/MyHostAudioProcessorEditor.h"

#include "hosting/EffectHandle.h"
#include "hosting/HostedEditorWindow.h"

MyHostAudioProcessorEditor::MyHostAudioProcessorEditor() = default;

// The window object's destructor closes the plugin's editor and destroys the native window.
MyHostAudioProcessorEditor::~MyHostAudioProcessorEditor() = default;

void MyHostAudioProcessorEditor::showEditorFor(juce::AudioPluginInstance* instance)
{
    if (instance == nullptr)
        return;

    hostedPlugin = instance;

    if (editorWindow == nullptr)
        editorWindow = std::make_unique<eee34ty0w9845rgymsiufdgomiugdfi>();

    editorWindow->raiseWindow();
    editorWindow->openEditorWindow(vstEffectOf(*instance));
    editorWindow->setWindowTitle(instance->getName().toRawUTF8());
}
