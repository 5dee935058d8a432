// Hosted plugin editor windows on Linux: top-level X11 windows on a display connection of our
// own, shared by all of them. The connection's events are read on the message thread through the
// framework's event loop (the window manager's close button arrives as WM_DELETE_WINDOW), and the
// idle timer is a framework timer, which also fires on the message thread.
//
// Every change is synchronised with the server before returning, so other clients (the plugin's
// own connection, a window manager, a test) see it at once.
//
// The plugin gets the window's id and creates its own child window in it, usually on a display
// connection and event handling of its own; windows are server-wide, so that works across
// connections as long as ours exists on the server before the id is handed out.
#include "platform/EditorWindow.h"

#include <juce_events/juce_events.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace pendulum::platform
{
namespace
{
// X11 has no windows of zero size; an empty client area becomes the smallest one.
int windowExtent(int pixels) noexcept { return std::max(1, pixels); }

class IdleTimer final : public juce::Timer
{
public:
    explicit IdleTimer(const EditorWindowEvents& eventsToUse) : events(eventsToUse) {}
    void timerCallback() override
    {
        if (events.timer != nullptr)
            events.timer(events.owner);
    }

private:
    EditorWindowEvents events;
};

struct EditorWindowRecord
{
    explicit EditorWindowRecord(const EditorWindowEvents& eventsToUse) : events(eventsToUse), idleTimer(eventsToUse) {}

    EditorWindowEvents events;
    IdleTimer idleTimer;
};

/** The display connection with the windows made on it; open while at least one window exists. */
struct EditorDisplay
{
    Display* display = nullptr;
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
    Atom netWmName = None;
    Atom utf8String = None;
    std::map<Window, std::unique_ptr<EditorWindowRecord>> windows;
};

EditorDisplay& editorDisplay()
{
    static EditorDisplay shared;
    return shared;
}

Window asWindow(EditorWindowHandle handle) noexcept { return (Window) reinterpret_cast<std::uintptr_t>(handle); }

EditorWindowRecord* recordOf(EditorWindowHandle handle)
{
    auto& shared = editorDisplay();
    const auto found = shared.windows.find(asWindow(handle));
    return found != shared.windows.end() ? found->second.get() : nullptr;
}

void readDisplayEvents()
{
    auto& shared = editorDisplay();

    while (shared.display != nullptr && XPending(shared.display) > 0)
    {
        XEvent event;
        XNextEvent(shared.display, &event);

        // A child of one of our windows (the plugin's view) changed its size or place.
        if (event.type == ConfigureNotify && event.xconfigure.event != event.xconfigure.window)
        {
            if (auto* record = recordOf(reinterpret_cast<EditorWindowHandle>((std::uintptr_t) event.xconfigure.event)))
            {
                const auto events = record->events;
                if (events.viewResized != nullptr)
                    events.viewResized(events.owner, event.xconfigure.x + event.xconfigure.width,
                                       event.xconfigure.y + event.xconfigure.height);
            }
            continue;
        }

        if (event.type != ClientMessage || event.xclient.message_type != shared.wmProtocols
            || (Atom) event.xclient.data.l[0] != shared.wmDeleteWindow)
            continue;

        // The owner's handling usually destroys the window, and may close the display with the
        // last one; the loop condition sees that.
        if (auto* record = recordOf(reinterpret_cast<EditorWindowHandle>((std::uintptr_t) event.xclient.window)))
        {
            const auto events = record->events;
            if (events.closeRequested != nullptr)
                events.closeRequested(events.owner);
        }
    }
}

bool openDisplay()
{
    auto& shared = editorDisplay();

    if (shared.display != nullptr)
        return true;

    shared.display = XOpenDisplay(nullptr);

    if (shared.display == nullptr)
        return false;

    shared.wmProtocols = XInternAtom(shared.display, "WM_PROTOCOLS", False);
    shared.wmDeleteWindow = XInternAtom(shared.display, "WM_DELETE_WINDOW", False);
    shared.netWmName = XInternAtom(shared.display, "_NET_WM_NAME", False);
    shared.utf8String = XInternAtom(shared.display, "UTF8_STRING", False);
    juce::LinuxEventLoop::registerFdCallback(ConnectionNumber(shared.display), [](int) { readDisplayEvents(); });
    return true;
}

void closeDisplayIfUnused()
{
    auto& shared = editorDisplay();

    if (shared.display == nullptr || !shared.windows.empty())
        return;

    juce::LinuxEventLoop::unregisterFdCallback(ConnectionNumber(shared.display));
    XCloseDisplay(shared.display);
    shared.display = nullptr;
}

void setClientSize(Window window, int clientWidth, int clientHeight)
{
    auto* display = editorDisplay().display;
    const auto width = windowExtent(clientWidth);
    const auto height = windowExtent(clientHeight);
    XResizeWindow(display, window, (unsigned) width, (unsigned) height);
}
/** Makes a change to one of our windows and waits until the server has it, so that the plugin's
    own connection sees the window as it now is. Handles of windows we do not have are ignored. */
template <typename Change>
void changeWindow(EditorWindowHandle handle, Change&& change)
{
    if (recordOf(handle) == nullptr)
        return;

    auto* display = editorDisplay().display;
    change(display, asWindow(handle));
    XSync(display, False);
}
} // namespace

EditorWindowHandle createEditorWindow(const EditorDialogTemplate&, const EditorWindowEvents& events)
{
    if (!openDisplay())
        return nullptr;

    auto& shared = editorDisplay();
    auto* display = shared.display;
    const int screen = DefaultScreen(display);

    XSetWindowAttributes attributes {};
    attributes.background_pixel = BlackPixel(display, screen);
    // The children's notifications tell when the plugin resizes its view.
    attributes.event_mask = StructureNotifyMask | SubstructureNotifyMask;
    const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, 100, 100, 0, CopyFromParent,
                                        InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);

    Atom protocols[] = { shared.wmDeleteWindow };
    XSetWMProtocols(display, window, protocols, 1);

    // The plugin embeds into this window over its own connection: it must exist on the server
    // before its id is handed out.
    XSync(display, False);

    shared.windows[window] = std::make_unique<EditorWindowRecord>(events);
    return reinterpret_cast<EditorWindowHandle>((std::uintptr_t) window);
}

/** Runs `use` with our display connection, or one made for the call when no window is open. */
template <typename Use>
static auto withDisplay(Use&& use) -> decltype(use((Display*) nullptr))
{
    if (auto* display = editorDisplay().display)
        return use(display);

    auto* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return decltype(use((Display*) nullptr)) {};

    auto result = use(display);
    XCloseDisplay(display);
    return result;
}

static bool hasProperty(Display* display, Window window, Atom property)
{
    int count = 0;
    Atom* properties = XListProperties(display, window, &count);
    const bool found = properties != nullptr && std::find(properties, properties + count, property) != properties + count;
    if (properties != nullptr)
        XFree(properties);
    return found;
}

std::vector<ScreenRect> monitorAreas()
{
    return withDisplay([](Display* display) {
        std::vector<ScreenRect> areas;
        const Window root = DefaultRootWindow(display);
        int eventBase = 0, errorBase = 0;

        if (XRRQueryExtension(display, &eventBase, &errorBase))
        {
            int count = 0;
            if (auto* monitors = XRRGetMonitors(display, root, True, &count))
            {
                for (int i = 0; i < count; ++i)
                {
                    const ScreenRect area { monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height };
                    if (monitors[i].primary)
                        areas.insert(areas.begin(), area);
                    else
                        areas.push_back(area);
                }
                XRRFreeMonitors(monitors);
            }
        }

        // Without the extension's answer the screen is one monitor.
        if (areas.empty())
        {
            const int screen = DefaultScreen(display);
            areas.push_back({ 0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen) });
        }

        return areas;
    });
}

EditorWindowHandle topLevelWindowOf(void* nativeView)
{
    if (nativeView == nullptr)
        return nullptr;

    const auto found = withDisplay([nativeView](Display* display) -> Window {
        const Atom wmState = XInternAtom(display, "WM_STATE", False);
        Window window = asWindow(nativeView);

        // Up to the window the window manager manages (it has WM_STATE), or without one to the
        // child of the root window.
        for (;;)
        {
            if (hasProperty(display, window, wmState))
                return window;

            Window root = None, parent = None;
            Window* children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(display, window, &root, &parent, &children, &count) == 0)
                return None;
            if (children != nullptr)
                XFree(children);
            if (parent == None || parent == root)
                return window;
            window = parent;
        }
    });

    return found != None ? reinterpret_cast<EditorWindowHandle>((std::uintptr_t) found) : nullptr;
}

std::optional<ScreenRect> screenRectOf(EditorWindowHandle handle)
{
    if (handle == nullptr)
        return std::nullopt;

    return withDisplay([handle](Display* display) -> std::optional<ScreenRect> {
        XWindowAttributes attributes {};
        if (XGetWindowAttributes(display, asWindow(handle), &attributes) == 0)
            return std::nullopt;

        int x = 0, y = 0;
        Window child = None;
        XTranslateCoordinates(display, asWindow(handle), attributes.root, 0, 0, &x, &y, &child);
        return ScreenRect { x, y, attributes.width, attributes.height };
    });
}

void setEditorWindowOwner(EditorWindowHandle handle, EditorWindowHandle owner)
{
    changeWindow(handle, [owner](Display* display, Window window) {
        if (owner != nullptr)
            XSetTransientForHint(display, window, asWindow(owner));
        else
            XDeleteProperty(display, window, XA_WM_TRANSIENT_FOR);
    });
}

EditorDpiScope::EditorDpiScope() = default;
EditorDpiScope::~EditorDpiScope() = default;

void showEditorWindow(EditorWindowHandle handle)
{
    changeWindow(handle, [](Display* display, Window window) { XMapRaised(display, window); });
}

void raiseEditorWindow(EditorWindowHandle handle)
{
    // Mapping an iconified (minimised) window is how a client restores it; on a mapped one it only
    // raises.
    changeWindow(handle, [](Display* display, Window window) { XMapRaised(display, window); });
}

void placeEditorWindow(EditorWindowHandle handle, int clientWidth, int clientHeight, int x, int y)
{
    changeWindow(handle, [&](Display* display, Window window) {
        // Ask window managers to keep the position given.
        XSizeHints hints {};
        hints.flags = USPosition | PPosition;
        hints.x = x;
        hints.y = y;
        XSetWMNormalHints(display, window, &hints);

        XMoveWindow(display, window, x, y);
        setClientSize(window, clientWidth, clientHeight);
    });
}

void resizeEditorWindow(EditorWindowHandle handle, int clientWidth, int clientHeight)
{
    changeWindow(handle, [&](Display*, Window window) { setClientSize(window, clientWidth, clientHeight); });
}

void startEditorTimer(EditorWindowHandle handle)
{
    if (auto* record = recordOf(handle))
        record->idleTimer.startTimer(editorIdlePeriodMs);
}

void stopEditorTimer(EditorWindowHandle handle)
{
    if (auto* record = recordOf(handle))
        record->idleTimer.stopTimer();
}

void setEditorWindowTitle(EditorWindowHandle handle, const char* utf8Title)
{
    if (utf8Title == nullptr)
        return;

    changeWindow(handle, [utf8Title](Display* display, Window window) {
        const auto& shared = editorDisplay();
        const auto length = (int) std::strlen(utf8Title);

        // The UTF-8 name for current window managers, the old name property for the rest.
        XChangeProperty(display, window, shared.netWmName, shared.utf8String, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8Title), length);
        XChangeProperty(display, window, XA_WM_NAME, shared.utf8String, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8Title), length);
    });
}

void destroyEditorWindow(EditorWindowHandle handle)
{
    auto& shared = editorDisplay();
    const auto found = shared.windows.find(asWindow(handle));

    if (found == shared.windows.end())
        return;

    found->second->idleTimer.stopTimer();
    XDestroyWindow(shared.display, found->first);
    XSync(shared.display, False);
    shared.windows.erase(found);
    closeDisplayIfUnused();
}
} // namespace pendulum::platform
