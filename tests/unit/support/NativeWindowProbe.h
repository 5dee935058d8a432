#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/**
    What a test can see of a native top-level window from outside, the way a user or a window
    manager sees it: an X11 Window id on Linux, an HWND on Windows.
*/
namespace native_window
{
struct Geometry
{
    int x = 0; // the window's top left corner on the screen (the outer frame's on Windows)
    int y = 0;
    int clientWidth = 0;
    int clientHeight = 0;
};

/**
    Makes the probe's own connection to the display server. Called before the windows under test
    come and go: a bare X server resets itself whenever its last client leaves, and a connection
    made during that reset is refused.
*/
bool connect();

bool exists(void* window);
std::optional<Geometry> geometryOf(void* window);
std::string titleOf(void* window);

/**
    The top-level window of that title, whichever process made it (FindWindow on Windows; the
    root's children on X11); null when there is none.
*/
void* findByTitle(const std::string& title);

/**
    The client size of a window sized to its frame alone (an empty client area): 0 x 0 where the
    system allows it. Windows keeps a captioned window at least as wide as its title bar needs
    (SM_CXMINTRACK); X11 has no windows of zero size, so there it is 1 x 1.
*/
Geometry frameOnlyClientSize(void* window);

/** True if `upper` lies above `lower` in the stacking order of top-level windows. */
bool isStackedAbove(void* upper, void* lower);

/** Asks the window to close, as its frame's close button does (WM_CLOSE / WM_DELETE_WINDOW). */
void requestClose(void* window);

/** The window's owner: WM_TRANSIENT_FOR on X11, GetWindow(GW_OWNER) on Windows; null for none. */
void* ownerOf(void* window);

/**
    Minimises the window as the user does from its frame. On X11 the client's request goes to the
    window manager; a bare X server has none, so the probe then does what one does: it marks the
    window iconic (WM_STATE) and unmaps it.
*/
void minimise(void* window);

/** True while the window is minimised (not mapped on X11, iconic on Windows). */
bool isMinimised(void* window);

/**
    A plain top-level window of width x height at (x, y), standing for a host's window that the
    container's editor is embedded in; destroyed with destroyHostWindow.
*/
void* makeHostWindow(int x, int y, int width, int height);
void destroyHostWindow(void* window);

/**
    True if the system scales the window for the monitor's DPI (its DPI awareness is "unaware"),
    false if the window draws at the monitor's own pixels; nothing where the system has no such
    setting (X11) or cannot tell.
*/
std::optional<bool> isSystemScaled(void* window);

/** The window's first child (the plugin's view inside a host's window); null without one. */
void* firstChildOf(void* window);

/**
    Divides the screen into virtual monitors (RandR monitors on X11), the first one primary; false
    where the system cannot (Windows, an X server without RandR 1.5). clearMonitors undoes it.
*/
bool setMonitors(const std::vector<juce::Rectangle<int>>& monitors);
void clearMonitors();

/** The pixels of the window's client area as they are on the screen now. */
juce::Image captureClient(void* window);

/** The screen's top left area, width x height, as it is now. */
juce::Image captureScreen(int width, int height);
} // namespace native_window
