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

    window = std::make_unique<KWDebugConsoleWindow>(getTitle(), this);

    const int rx = x, ry = y, rw = width, rh = height;
    if (rx != -1 && ry != -1 && rw != -1 && rh != -1)
        window->setBounds(rx, ry, rw, rh);
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
    {
        const juce::SpinLock::ScopedLockType lock(titleLock);
        title = newTitle;
    }

    if (window != nullptr)
        window->setName(newTitle);
}

juce::String KWDebugConsole::getTitle() const
{
    const juce::SpinLock::ScopedLockType lock(titleLock);
    return title;
}

int KWDebugConsole::refreshed(std::atomic<int>& remembered, int fromWindow)
{
    remembered = fromWindow;
    return fromWindow;
}

namespace
{
bool onMessageThread()
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    return messageManager != nullptr && messageManager->isThisTheMessageThread();
}
} // namespace

int KWDebugConsole::getX()
{
    return onMessageThread() && window != nullptr ? refreshed(x, window->getX()) : x.load();
}

int KWDebugConsole::getY()
{
    return onMessageThread() && window != nullptr ? refreshed(y, window->getY()) : y.load();
}

int KWDebugConsole::getWidth()
{
    return onMessageThread() && window != nullptr ? refreshed(width, window->getWidth()) : width.load();
}

int KWDebugConsole::getHeight()
{
    return onMessageThread() && window != nullptr ? refreshed(height, window->getHeight()) : height.load();
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
