#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>

class KWDebugConsoleWindow;

/**
    The process-wide log console shared by every container instance.

    It keeps no text of its own: lines go straight into its window, and lines printed while no
    window is showing are dropped. It remembers the window's title and bounds so that a window
    opened later comes back where the last one was.

    Threading: a user-interface object; every operation runs on the message thread, with one
    exception: the title and the remembered bounds may be read from any thread (a host may save
    its project from its own thread). Off the message thread the bounds are not refreshed from the
    window; the window records every move and resize, so the remembered ones are current. Lines
    from other threads go through consolePrint() (ConsoleGlobals.h), which hands them over.
*/
class KWDebugConsole
{
public:
    KWDebugConsole();
    ~KWDebugConsole();

    /** Opens a window unless one exists (showing, or closed by the user but not yet deleted). */
    void show();

    /** Deletes the window, with its content and text, if there is one. */
    void hide();

    /** Appends one line (without terminator) to the window; drops it when no window is showing. */
    void print(const juce::String& line);

    void setTitle(const juce::String& newTitle);
    juce::String getTitle() const;

    /** The remembered bounds, refreshed from the window first when one exists; -1 when unknown. */
    int getX();
    int getY();
    int getWidth();
    int getHeight();

    /** Stores the bounds; with apply set and a window present, also moves the window. */
    void setBounds(int newX, int newY, int newWidth, int newHeight, bool apply);

    /** The current window object, or null. */
    KWDebugConsoleWindow* getWindow() const noexcept { return window.get(); }

private:
    void deleteWindow();

    int refreshed(std::atomic<int>& remembered, int fromWindow);

    mutable juce::SpinLock titleLock;
    juce::String title { "defaultproduct" };
    std::atomic<int> x { -1 };
    std::atomic<int> y { -1 };
    std::atomic<int> width { -1 };
    std::atomic<int> height { -1 };
    std::unique_ptr<KWDebugConsoleWindow> window;

    JUCE_DECLARE_NON_COPYABLE(KWDebugConsole)
};
