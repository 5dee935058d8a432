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

    if (++linesShown > maxLines)
        dropOldestLines(maxLines / 4);
}

void NewComponent::dropOldestLines(int count)
{
    const auto text = textEditor->getText();
    int end = 0;

    for (int dropped = 0; dropped < count; ++dropped)
    {
        const auto next = text.indexOfChar(end, '\n');
        if (next < 0)
            break;
        end = next + 1;
    }

    // The caret keeps its place in the text that stays.
    const auto caret = textEditor->getCaretPosition();
    textEditor->setHighlightedRegion({ 0, end });
    textEditor->insertTextAtCaret({});
    textEditor->setCaretPosition(juce::jmax(0, caret - end));
    linesShown = juce::jmax(0, linesShown - count);
}
