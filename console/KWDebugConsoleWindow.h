#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class KWDebugConsole;
class NewComponent;

/**
    The console's window: a resizable, always-on-top document window with the operating system's
    title bar, showing a NewComponent. While it has an owner, every move and resize is recorded
    in the owner's remembered bounds.
*/
class KWDebugConsoleWindow : public juce::DocumentWindow
{
public:
    KWDebugConsoleWindow(const juce::String& title, KWDebugConsole* ownerConsole);
    ~KWDebugConsoleWindow() override;

    void resized() override;
    void moved() override;

    /** Only takes the window off the desktop; the owning console deletes the object later. */
    void closeButtonPressed() override;

    void appendLine(const juce::String& line);

    NewComponent* getContent() const noexcept { return content; }

private:
    void recordBounds();

    NewComponent* content = nullptr;     // owned by the window as its content component
    KWDebugConsole* owner = nullptr;     // set once construction is complete

    JUCE_DECLARE_NON_COPYABLE(KWDebugConsoleWindow)
};
