#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The native top-level window in which a hosted plugin draws its own editor. On Windows it is a
// modeless dialog made from an in-memory template; on Linux a top-level X11 window. Everything
// here runs on the message thread: the window's close request and its timer are delivered there,
// by the framework's message loop.

namespace pendulum::platform
{
/** The native handle a plugin's editor is opened in: an HWND, or an X11 Window id. */
using EditorWindowHandle = void*;

/**
    The in-memory dialog template the Windows window is made from: a DLGTEMPLATE (style, extended
    style, number of controls, x, y, cx, cy) followed by the zero words for no menu, the default
    class and an empty title, then the font's point size and empty face name that DS_SETFONT asks
    for. 16-bit words, 4-byte aligned as the dialog functions require.
*/
struct alignas(4) EditorDialogTemplate
{
    static constexpr std::uint32_t style = 0x12CF08C8u;
    std::array<std::uint16_t, 14> words {};

    constexpr EditorDialogTemplate() noexcept
    {
        words[0] = (std::uint16_t) (style & 0xFFFFu); // style, low word first
        words[1] = (std::uint16_t) (style >> 16);
        // words[2..3]: extended style 0; [4]: no controls; [5..6]: x, y = 0, 0
        words[7] = 100; // cx, dialog units
        words[8] = 100; // cy
        // words[9..11]: no menu, the default dialog class, empty title
        // words[12..13]: font point size 0 and an empty face name
    }
};

/**
    Where a window's events go: `closeRequested` when the user closes it from its frame, `timer`
    on each tick of its idle timer. `owner` is handed back unchanged.
*/
struct EditorWindowEvents
{
    void* owner = nullptr;
    void (*closeRequested)(void* owner) = nullptr;
    void (*timer)(void* owner) = nullptr;
    /**
        The plugin's view inside the window took a new size, its right and bottom edges now at
        width x height in the window's client area (a plugin resizing its editor resizes its view
        and tells the host; the framework's host callback keeps that request to itself).
    */
    void (*viewResized)(void* owner, int width, int height) = nullptr;
};

/** A rectangle on the screen, in the window system's pixels. */
struct ScreenRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

/** The monitors' rectangles (their work areas where the system tells them), the primary first. */
std::vector<ScreenRect> monitorAreas();

/**
    The top-level window a native view of ours belongs to: the host's window that the container's
    editor is embedded in, or the editor's own window. Null for a null view.
*/
EditorWindowHandle topLevelWindowOf(void* nativeView);

/** Where a top-level window stands on the screen (its outer frame); nothing if it does not exist. */
std::optional<ScreenRect> screenRectOf(EditorWindowHandle window);

/**
    Makes `owner` (a top-level window, or null for none) the window's owner: the window stays above
    it and goes with it (WM_TRANSIENT_FOR on X11, the owner window on Windows).
*/
void setEditorWindowOwner(EditorWindowHandle window, EditorWindowHandle owner);

/**
    While one exists on the message thread, windows made on that thread are scaled by the system
    for the monitor's DPI (Windows' per-window DPI awareness, set to unaware): the plugin's editor,
    made in its open call, and our window around it are drawn at the size a 96-DPI screen shows
    them, not tiny or clipped on a high-DPI monitor. Nothing on X11.
*/
class EditorDpiScope
{
public:
    EditorDpiScope();
    ~EditorDpiScope();
    EditorDpiScope(const EditorDpiScope&) = delete;
    EditorDpiScope& operator=(const EditorDpiScope&) = delete;

private:
    void* previous = nullptr;
};

/** Creates the window (not necessarily shown yet); null if the platform refuses. */
EditorWindowHandle createEditorWindow(const EditorDialogTemplate& dialogTemplate, const EditorWindowEvents& events);

/** Shows the window. */
void showEditorWindow(EditorWindowHandle window);

/**
    Puts the window on top of the others without moving or resizing it; a minimised window is
    restored first.
*/
void raiseEditorWindow(EditorWindowHandle window);

/**
    Gives the window the outer size whose client area is width x height and puts its top left
    corner at (x, y) on the screen, out of the always-on-top band.
*/
void placeEditorWindow(EditorWindowHandle window, int clientWidth, int clientHeight, int x, int y);

/** Gives the window the outer size whose client area is width x height, where it stands. */
void resizeEditorWindow(EditorWindowHandle window, int clientWidth, int clientHeight);

/** Period of the idle timer. */
constexpr int editorIdlePeriodMs = 100;

/** Starts (or restarts) the window's idle timer, which calls `events.timer` every 100 ms. */
void startEditorTimer(EditorWindowHandle window);

/** Stops the window's idle timer; nothing if it does not run. */
void stopEditorTimer(EditorWindowHandle window);

/** Sets the window's title from UTF-8 text. */
void setEditorWindowTitle(EditorWindowHandle window, const char* utf8Title);

/** Destroys the window (and its timer). The handle is invalid afterwards. */
void destroyEditorWindow(EditorWindowHandle window);
} // namespace pendulum::platform
