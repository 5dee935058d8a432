#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pendulum::rawhost
{

// What a window showed: its size and its pixels as 0xAARRGGBB, row by row.
struct WindowPixels
{
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;

    std::uint32_t at(int x, int y) const { return argb[static_cast<std::size_t>(y * width + x)]; }
};

// A native top-level window that a test host gives a plugin for its editor (effEditOpen's ptr):
// an X11 window on Linux, a Win32 window on Windows. It reads back what the plugin drew into the
// child window it put inside. Used on the thread that created it.
class NativeParentWindow
{
public:
    NativeParentWindow(int width, int height);
    ~NativeParentWindow();
    NativeParentWindow(const NativeParentWindow&) = delete;
    NativeParentWindow& operator=(const NativeParentWindow&) = delete;

    bool isOpen() const noexcept;
    // The handle effEditOpen expects: the X11 Window id or the HWND.
    void* handle() const noexcept;

    // Handles the window's pending events (X11; on Windows the host's message loop does it).
    void dispatchEvents();

    // The number of child windows the plugin has put into this window.
    int numChildren() const;

    // Size and pixels of the first child window, once it is shown; nothing before.
    std::optional<WindowPixels> captureChild() const;

    // A left click at (x, y) of this window, as the user's mouse gives it to whatever window lies
    // there (the plugin's editor). False if it could not be sent.
    bool clickAt(int x, int y);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace pendulum::rawhost
