#include "console/KWDebugConsoleWindow.h"

#include "console/KWDebugConsole.h"
#include "console/NewComponent.h"

KWDebugConsoleWindow::KWDebugConsoleWindow(const juce::String& title, KWDebugConsole* ownerConsole)
    : juce::DocumentWindow(title, juce::Colour(0xFFD3D3D3), juce::DocumentWindow::allButtons, true)
{
    content = new NewComponent();
    setContentOwned(content, true);
    centreWithSize(getWidth(), getHeight());
    setResizable(true, true);
    setUsingNativeTitleBar(true);
    setAlwaysOnTop(true);
    setVisible(true);

    // Bounds changes made while building the window are not recorded.
    owner = ownerConsole;
}

KWDebugConsoleWindow::~KWDebugConsoleWindow()
{
    // Teardown may move or shrink the window; those are not the user's bounds.
    owner = nullptr;
}

void KWDebugConsoleWindow::resized()
{
    juce::DocumentWindow::resized();
    recordBounds();
}

void KWDebugConsoleWindow::moved()
{
    juce::DocumentWindow::moved();
    recordBounds();
}

void KWDebugConsoleWindow::closeButtonPressed()
{
    removeFromDesktop();
}

void KWDebugConsoleWindow::appendLine(const juce::String& line)
{
    content->appendLine(line);
}

void KWDebugConsoleWindow::recordBounds()
{
    if (owner != nullptr)
        owner->setBounds(getX(), getY(), getWidth(), getHeight(), false);
}
