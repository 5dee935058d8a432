#include "ui/PluginContainerAudioProcessorEditor.h"

#include "container/PluginContainerAudioProcessor.h"

PluginContainerAudioProcessorEditor::PluginContainerAudioProcessorEditor(PluginContainerAudioProcessor& processor)
    : juce::AudioProcessorEditor(processor), container(processor)
{
    setSize(editorWidth, editorHeight);
}

PluginContainerAudioProcessorEditor::~PluginContainerAudioProcessorEditor() = default;

void PluginContainerAudioProcessorEditor::refreshPanel()
{
    shownInstanceName = container.getInstanceName();
    repaint();
}

void PluginContainerAudioProcessorEditor::refreshProgramChooser(int)
{
    // The panel shows no program list yet; a load changes nothing else it shows.
    repaint();
}

void PluginContainerAudioProcessorEditor::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(0xFFD3D3D3));
    g.setColour(juce::Colours::black);
    g.setFont(18.0f);
    g.drawText(container.getName(), getLocalBounds().removeFromTop(48), juce::Justification::centred);
    g.setFont(14.0f);
    g.drawText(shownInstanceName, getLocalBounds().withTrimmedTop(48).removeFromTop(24),
               juce::Justification::centred);
}
