#include "support/NativeWindowProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>

namespace native_window
{
namespace
{
// A display connection of the test's own, like any other client of the server.
Display* probeDisplay()
{
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

Window asWindow(void* window) { return (Window) reinterpret_cast<std::uintptr_t>(window); }

/** The root's children, bottom to top. */
std::vector<Window> topLevelWindows()
{
    auto* display = probeDisplay();
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;

    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0)
    {
        result.assign(children, children + count);
        if (children != nullptr)
            XFree(children);
    }

    return result;
}

juce::Image imageOfScreenArea(int x, int y, int width, int height)
{
    auto* display = probeDisplay();
    juce::Image image(juce::Image::RGB, std::max(1, width), std::max(1, height), true);
    XImage* pixels = XGetImage(display, DefaultRootWindow(display), x, y, (unsigned) std::max(1, width),
                               (unsigned) std::max(1, height), AllPlanes, ZPixmap);

    if (pixels == nullptr)
        return image;

    for (int row = 0; row < image.getHeight(); ++row)
        for (int column = 0; column < image.getWidth(); ++column)
        {
            const auto value = XGetPixel(pixels, column, row);
            image.setPixelAt(column, row,
                             juce::Colour((juce::uint8) ((value >> 16) & 0xFF), (juce::uint8) ((value >> 8) & 0xFF),
                                          (juce::uint8) (value & 0xFF)));
        }

    XDestroyImage(pixels);
    return image;
}
} // namespace

bool connect()
{
    return probeDisplay() != nullptr;
}

bool exists(void* window)
{
    XSync(probeDisplay(), False);
    const auto windows = topLevelWindows();
    return std::find(windows.begin(), windows.end(), asWindow(window)) != windows.end();
}

std::optional<Geometry> geometryOf(void* window)
{
    if (!exists(window))
        return std::nullopt;

    auto* display = probeDisplay();
    XWindowAttributes attributes {};
    if (XGetWindowAttributes(display, asWindow(window), &attributes) == 0)
        return std::nullopt;

    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, asWindow(window), DefaultRootWindow(display), 0, 0, &rootX, &rootY, &child);
    return Geometry { rootX, rootY, attributes.width, attributes.height };
}

std::string titleOf(void* window)
{
    auto* display = probeDisplay();
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::string title;

    if (XGetWindowProperty(display, asWindow(window), netWmName, 0, 1024, False, AnyPropertyType, &type, &format,
                           &count, &remaining, &data)
            == Success
        && data != nullptr)
    {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
    }

    return title;
}

Geometry frameOnlyClientSize(void*)
{
    return Geometry { 0, 0, 1, 1 };
}

bool isStackedAbove(void* upper, void* lower)
{
    XSync(probeDisplay(), False);
    const auto windows = topLevelWindows();
    const auto upperAt = std::find(windows.begin(), windows.end(), asWindow(upper));
    const auto lowerAt = std::find(windows.begin(), windows.end(), asWindow(lower));
    return upperAt != windows.end() && lowerAt != windows.end() && upperAt > lowerAt;
}

void requestClose(void* window)
{
    auto* display = probeDisplay();
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = asWindow(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long) XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, asWindow(window), False, NoEventMask, &event);
    XFlush(display);
}

juce::Image captureClient(void* window)
{
    const auto geometry = geometryOf(window);
    if (!geometry)
        return {};
    return imageOfScreenArea(geometry->x, geometry->y, geometry->clientWidth, geometry->clientHeight);
}

juce::Image captureScreen(int width, int height)
{
    return imageOfScreenArea(0, 0, width, height);
}
} // namespace native_window
