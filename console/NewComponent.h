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

    /**
        Inserts the line and a line feed at the caret, as typed text would be. Once the text holds
        more than maxLines lines, the oldest quarter of them is dropped: a plugin that fails again
        after every reload logs a dozen lines a second, and a session lasts hours.
    */
    void appendLine(const juce::String& line);

    static constexpr int maxLines = 500;

    juce::TextEditor& getTextEditor() noexcept { return *textEditor; }

private:
    void dropOldestLines(int count);

    std::unique_ptr<juce::TextEditor> textEditor;
    int linesShown = 0;

    JUCE_DECLARE_NON_COPYABLE(NewComponent)
};
