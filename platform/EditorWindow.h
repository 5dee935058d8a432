#pragma once

#include <array>
#include <cstdint>

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
};

/** Creates the window (not necessarily shown yet); null if the platform refuses. */
EditorWindowHandle createEditorWindow(const EditorDialogTemplate& dialogTemplate, const EditorWindowEvents& events);

/** Shows the window. */
void showEditorWindow(EditorWindowHandle window);

/** Puts the window on top of the others without moving or resizing it. */
void raiseEditorWindow(EditorWindowHandle window);

/**
    Gives the window the outer size whose client area is width x height and puts it at the top
    left corner of the screen, out of the always-on-top band.
*/
void placeEditorWindow(EditorWindowHandle window, int clientWidth, int clientHeight);

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
