#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The console window's content: a read-only, word-wrapping text editor inside a white margin. */
class NewComponent : public juce::Component
{
public:
    NewComponent();
    ~NewComponent() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    /** Inserts the line and a line feed at the caret, as typed text would be. */
    void appendLine(const juce::String& line);

    juce::TextEditor& getTextEditor() noexcept { return *textEditor; }

private:
    std::unique_ptr<juce::TextEditor> textEditor;

    JUCE_DECLARE_NON_COPYABLE(NewComponent)
};
