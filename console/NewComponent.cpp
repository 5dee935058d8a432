#include "console/NewComponent.h"

namespace
{
constexpr int margin = 16;
}

NewComponent::NewComponent()
{
    textEditor = std::make_unique<juce::TextEditor>("new text editor");
    addAndMakeVisible(*textEditor);
    textEditor->setMultiLine(true, true);
    textEditor->setReturnKeyStartsNewLine(false);
    textEditor->setReadOnly(true);
    textEditor->setScrollbarsShown(true);
    textEditor->setCaretVisible(false);
    textEditor->setPopupMenuEnabled(true);
    textEditor->setText(juce::String());

    setSize(600, 400);
}

NewComponent::~NewComponent() = default;

void NewComponent::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(0xFFFFFFFF));
}

void NewComponent::resized()
{
    textEditor->setBounds(margin, margin, getWidth() - 2 * margin, getHeight() - 2 * margin);
}

void NewComponent::appendLine(const juce::String& line)
{
    textEditor->insertTextAtCaret(line + "\n");
}
