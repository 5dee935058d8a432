#include "ui/PluginContainerAudioProcessorEditor.h"

#include "container/PluginContainerAudioProcessor.h"
#include "ui/GUI.h"

PluginContainerAudioProcessorEditor::PluginContainerAudioProcessorEditor(PluginContainerAudioProcessor& processor)
    : juce::AudioProcessorEditor(processor), panel(std::make_unique<GUI>())
{
    setSize(editorWidth, editorHeight);
    panel->setProcessor(&processor);
    addAndMakeVisible(*panel);
    panel->setTopLeftPosition(0, 0);
}

PluginContainerAudioProcessorEditor::~PluginContainerAudioProcessorEditor() = default;

void PluginContainerAudioProcessorEditor::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(GUI::backgroundArgb));
}

void PluginContainerAudioProcessorEditor::setScaleFactor(float newScale)
{
    juce::AudioProcessorEditor::setScaleFactor(newScale);

    // The host's window grows or shrinks after this; what it showed so far is stale everywhere.
    const juce::Component::SafePointer<PluginContainerAudioProcessorEditor> self(this);
    juce::MessageManager::callAsync([self] {
        if (self != nullptr)
            if (auto* top = self->getTopLevelComponent())
                top->repaint();
    });
    repaint();
}

template <typename Call>
void PluginContainerAudioProcessorEditor::onMessageThread(Call&& call)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
    {
        call(*panel);
        return;
    }

    juce::MessageManager::callAsync(
        [editor = juce::Component::SafePointer<PluginContainerAudioProcessorEditor>(this), call]
        {
            if (editor != nullptr)
                call(*editor->panel);
        });
}

void PluginContainerAudioProcessorEditor::refreshPanel()
{
    onMessageThread([](GUI& gui) { gui.updateFromProcessor(); });
}

void PluginContainerAudioProcessorEditor::refreshProgramChooser(int slot)
{
    onMessageThread([slot](GUI& gui) { gui.refreshProgramChooser(slot); });
}
