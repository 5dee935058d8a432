#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The window that owns an option chooser's content while the chooser runs. It sits on the
    desktop with the platform's title bar, light grey behind its content; its close button only
    takes it off the desktop.
*/
class ModalWindowWithComboBoxOptionChooser : public juce::DialogWindow
{
public:
    explicit ModalWindowWithComboBoxOptionChooser(const juce::String& title);

    void closeButtonPressed() override;

private:
    JUCE_DECLARE_NON_COPYABLE(ModalWindowWithComboBoxOptionChooser)
};
