#include "hosting/ModalWindowWithComboBoxOptionChooser.h"

ModalWindowWithComboBoxOptionChooser::ModalWindowWithComboBoxOptionChooser(const juce::String& title)
    : juce::DialogWindow(title, juce::Colour(0xFFD3D3D3), true, true)
{
    setUsingNativeTitleBar(true);
}

void ModalWindowWithComboBoxOptionChooser::closeButtonPressed()
{
    removeFromDesktop();
}
