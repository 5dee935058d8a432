#include "NativeParentWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace pendulum::rawhost
{
namespace
{
// A host handles X errors itself; the default handler would end the process on the first one
// (for example a window-manager atom that a bare X server does not have).
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}
} // namespace

struct NativeParentWindow::Native
{
    Display* display = nullptr;
    Window window = 0;
};

NativeParentWindow::NativeParentWindow(int width, int height) : native_(std::make_unique<Native>())
{
    XSetErrorHandler(ignoreXError);
    native_->display = XOpenDisplay(nullptr);
    if (native_->display == nullptr)
        return;

    auto* display = native_->display;
    const auto screen = DefaultScreen(display);
    native_->window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                                          static_cast<unsigned>(height), 0, BlackPixel(display, screen),
                                          BlackPixel(display, screen));
    XStoreName(display, native_->window, "raw host editor window");
    XMapWindow(display, native_->window);
    XSync(display, False);
}

NativeParentWindow::~NativeParentWindow()
{
    if (native_->display == nullptr)
        return;
    if (native_->window != 0)
        XDestroyWindow(native_->display, native_->window);
    XCloseDisplay(native_->display);
}

bool NativeParentWindow::isOpen() const noexcept
{
    return native_->window != 0;
}

void* NativeParentWindow::handle() const noexcept
{
    return reinterpret_cast<void*>(native_->window);
}

void NativeParentWindow::dispatchEvents()
{
    if (native_->display == nullptr)
        return;
    while (XPending(native_->display) > 0)
    {
        XEvent event;
        XNextEvent(native_->display, &event);
    }
}

namespace
{
std::vector<Window> childrenOf(Display* display, Window window)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0 && children != nullptr)
    {
        result.assign(children, children + count);
        XFree(children);
    }
    return result;
}
} // namespace

int NativeParentWindow::numChildren() const
{
    if (native_->display == nullptr)
        return 0;
    XSync(native_->display, False);
    return static_cast<int>(childrenOf(native_->display, native_->window).size());
}

std::optional<WindowPixels> NativeParentWindow::captureChild() const
{
    auto* display = native_->display;
    if (display == nullptr)
        return std::nullopt;

    XSync(display, False);
    const auto children = childrenOf(display, native_->window);
    if (children.empty())
        return std::nullopt;

    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, children.front(), &attributes) == 0 || attributes.map_state != IsViewable
        || attributes.width <= 0 || attributes.height <= 0)
        return std::nullopt;

    XImage* image = XGetImage(display, children.front(), 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return std::nullopt;

    WindowPixels pixels;
    pixels.width = attributes.width;
    pixels.height = attributes.height;
    pixels.argb.resize(static_cast<std::size_t>(pixels.width * pixels.height));

    // A 24-bit true-colour visual: the pixel value is 0xRRGGBB.
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x)
            pixels.argb[static_cast<std::size_t>(y * pixels.width + x)] =
                0xFF000000u | (static_cast<std::uint32_t>(XGetPixel(image, x, y)) & 0x00FFFFFFu);

    XDestroyImage(image);
    return pixels;
}

bool NativeParentWindow::clickAt(int x, int y)
{
    auto* display = native_->display;
    if (display == nullptr)
        return false;

    // Through the server's test extension: the pointer moves there and the button goes down and
    // up, so the window under it gets the events a real mouse would give it.
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == False)
        return false;

    // Other programs' windows on the same display (tests running beside this one) may stand
    // over the point: this window goes on top first, so that the click lands in it.
    XRaiseWindow(display, native_->window);
    int rootX = 0, rootY = 0;
    Window under = 0;
    XSync(display, False);
    if (XTranslateCoordinates(display, native_->window, DefaultRootWindow(display), x, y, &rootX, &rootY, &under) == False)
        return false;

    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    return true;
}

} // namespace pendulum::rawhost
