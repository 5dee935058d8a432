#include "console/KWDebugConsole.h"

#include "console/KWDebugConsoleWindow.h"

KWDebugConsole::KWDebugConsole() = default;

KWDebugConsole::~KWDebugConsole()
{
    deleteWindow();
}

void KWDebugConsole::show()
{
    if (window != nullptr)
        return;

    window = std::make_unique<KWDebugConsoleWindow>(title, this);

    if (x != -1 && y != -1 && width != -1 && height != -1)
        window->setBounds(x, y, width, height);
}

void KWDebugConsole::hide()
{
    deleteWindow();
}

void KWDebugConsole::print(const juce::String& line)
{
    if (window == nullptr)
        return;

    // The user closed the window: it is off the desktop but still ours. This line is dropped and
    // the window goes away, so that the next show() opens a fresh one.
    if (!window->isOnDesktop())
    {
        deleteWindow();
        return;
    }

    window->appendLine(line);
}

void KWDebugConsole::setTitle(const juce::String& newTitle)
{
    title = newTitle;

    if (window != nullptr)
        window->setName(title);
}

juce::String KWDebugConsole::getTitle() const
{
    return title;
}

int KWDebugConsole::getX()
{
    if (window != nullptr)
        x = window->getX();
    return x;
}

int KWDebugConsole::getY()
{
    if (window != nullptr)
        y = window->getY();
    return y;
}

int KWDebugConsole::getWidth()
{
    if (window != nullptr)
        width = window->getWidth();
    return width;
}

int KWDebugConsole::getHeight()
{
    if (window != nullptr)
        height = window->getHeight();
    return height;
}

void KWDebugConsole::setBounds(int newX, int newY, int newWidth, int newHeight, bool apply)
{
    x = newX;
    y = newY;
    width = newWidth;
    height = newHeight;

    if (apply && window != nullptr)
        window->setBounds(newX, newY, newWidth, newHeight);
}

void KWDebugConsole::deleteWindow()
{
    // The member is cleared before the window is destroyed, so nothing reached from the
    // window's teardown can see a half-deleted window.
    auto doomed = std::move(window);
    doomed.reset();
}
