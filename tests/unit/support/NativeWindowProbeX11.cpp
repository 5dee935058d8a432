#include "support/NativeWindowProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

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

void* findByTitle(const std::string& title)
{
    XSync(probeDisplay(), False);
    for (const auto window : topLevelWindows())
    {
        void* handle = reinterpret_cast<void*>((std::uintptr_t) window);
        if (titleOf(handle) == title)
            return handle;
    }
    return nullptr;
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

void* ownerOf(void* window)
{
    Window owner = None;
    if (XGetTransientForHint(probeDisplay(), asWindow(window), &owner) == 0)
        return nullptr;
    return reinterpret_cast<void*>((std::uintptr_t) owner);
}

void minimise(void* window)
{
    auto* display = probeDisplay();
    XIconifyWindow(display, asWindow(window), DefaultScreen(display));

    // No window manager on a bare server: do its part.
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const long state[2] = { IconicState, None };
    XChangeProperty(display, asWindow(window), wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
    XUnmapWindow(display, asWindow(window));
    XSync(display, False);
}

bool isMinimised(void* window)
{
    auto* display = probeDisplay();
    XSync(display, False);
    XWindowAttributes attributes {};
    return XGetWindowAttributes(display, asWindow(window), &attributes) != 0 && attributes.map_state != IsViewable;
}

void* makeHostWindow(int x, int y, int width, int height)
{
    auto* display = probeDisplay();
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, (unsigned) width,
                                              (unsigned) height, 0, BlackPixel(display, screen), 0x404040);
    XMapWindow(display, window);
    XSync(display, False);
    return reinterpret_cast<void*>((std::uintptr_t) window);
}

void destroyHostWindow(void* window)
{
    XDestroyWindow(probeDisplay(), asWindow(window));
    XSync(probeDisplay(), False);
}

std::optional<bool> isSystemScaled(void*)
{
    return std::nullopt;
}

void* firstChildOf(void* window)
{
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    void* first = nullptr;
    if (XQueryTree(probeDisplay(), asWindow(window), &root, &parent, &children, &count) != 0 && children != nullptr)
    {
        if (count > 0)
            first = reinterpret_cast<void*>((std::uintptr_t) children[0]);
        XFree(children);
    }
    return first;
}

namespace
{
std::vector<Atom>& monitorNames()
{
    static std::vector<Atom> names;
    return names;
}
} // namespace

bool setMonitors(const std::vector<juce::Rectangle<int>>& monitors)
{
    auto* display = probeDisplay();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor)
        || major * 100 + minor < 105)
        return false;

    clearMonitors();
    const Window root = DefaultRootWindow(display);

    // The first monitor takes over the screen's output, whose own monitor covers the whole screen
    // and would otherwise be listed besides the test's.
    XRRScreenResources* resources = XRRGetScreenResources(display, root);
    if (resources == nullptr || resources->noutput < 1)
    {
        if (resources != nullptr)
            XRRFreeScreenResources(resources);
        return false;
    }

    for (size_t i = 0; i < monitors.size(); ++i)
    {
        const auto& area = monitors[i];
        XRRMonitorInfo info {};
        info.name = XInternAtom(display, ("PENDULUM-TEST-" + std::to_string(i)).c_str(), False);
        info.primary = i == 0 ? True : False;
        info.automatic = False;
        info.noutput = i == 0 ? 1 : 0;
        info.x = area.getX();
        info.y = area.getY();
        info.width = area.getWidth();
        info.height = area.getHeight();
        // Millimetres at about 96 dots per inch.
        info.mwidth = area.getWidth() * 254 / 960;
        info.mheight = area.getHeight() * 254 / 960;
        info.outputs = i == 0 ? resources->outputs : nullptr;
        XRRSetMonitor(display, root, &info);
        monitorNames().push_back(info.name);
    }

    XSync(display, False);
    XRRFreeScreenResources(resources);

    // The test's monitors are in charge only if they are all a client is given.
    int count = 0;
    auto* listed = XRRGetMonitors(display, root, True, &count);
    if (listed != nullptr)
        XRRFreeMonitors(listed);
    if (count == (int) monitors.size())
        return true;

    clearMonitors();
    return false;
}

void clearMonitors()
{
    auto* display = probeDisplay();
    for (auto name : monitorNames())
        XRRDeleteMonitor(display, DefaultRootWindow(display), name);
    monitorNames().clear();
    XSync(display, False);
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
